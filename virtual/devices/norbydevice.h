#pragma once

#include "norbybootloader.h"
#include "norbyflash.h"
#include "norbysettings.h"
#include "usbmodel.h"

#include <memory>
#include <optional>
#include <string>

namespace vdev {

// Which program the device runs; it decides the USB id and the requests it answers.
enum class NorbyState {
    Application, // product id ends in 1: settings, flashing, EDID
    SoftRepair, // product id ends in 0: FX3 boot loader protocol
    Sandbox, // product id ends in F: flashing and EDID only
    BootLoader, // 0x04B4:0x00F3, the FX3 ROM boot loader
};

// One physical capture device of the Norby family. It survives re-enumeration: flash, EDID
// and settings stay, only the running program (and with it the USB id) changes.
class NorbyDevice : public UsbDeviceModel
{
public:
    struct Config {
        uint16_t vendorId = 0x2B77;
        // The product id with its last hexadecimal digit cleared; the state fills it in.
        uint16_t familyId = 0x3600;
        NorbyState state = NorbyState::Application;
        std::optional<std::string> product = std::string("KESTREL3");
        std::optional<std::string> serial = std::string("A1B2C3D4");
        // String descriptor 3 of the application firmware.
        std::optional<std::string> version = std::string("3.2.1");
        // What the FPGA loader expects; by default plain for the 4K family (0x3630, 0x3640),
        // framed for the others.
        std::optional<NorbyFlash::FpgaFormat> fpgaFormat;
        // How the device re-appears after a start request of the boot loader.
        Reenumeration restart {std::chrono::milliseconds(20), Arrival::SamePort};
    };

    static constexpr uint8_t ManufacturerIndex = 1;
    static constexpr uint8_t ProductIndex = 2;
    static constexpr uint8_t VersionIndex = 3;
    static constexpr uint8_t SerialIndex = 4;
    static constexpr uint16_t BootLoaderVendorId = 0x04B4;
    static constexpr uint16_t BootLoaderProductId = 0x00F3;

    explicit NorbyDevice(Config config);
    // Shorthand for a device of `familyId` in `state` with the default strings.
    static std::shared_ptr<NorbyDevice> make(uint16_t familyId, NorbyState state);

    Identity identity() const override;
    std::optional<std::string> stringDescriptor(uint8_t index) const override;
    int control(const ControlSetup &setup, uint8_t *data) override;
    std::optional<Reenumeration> takeReenumeration() override;
    std::chrono::microseconds takeAnswerTime() override { return flash_.takeAnswerTime(); }

    NorbyState state() const { return state_; }
    const Config &config() const { return config_; }

    NorbySettings &settings() { return settings_; }
    NorbyFlash &flash() { return flash_; }
    NorbyBootLoader &bootLoader() { return bootLoader_; }

private:
    Config config_;
    NorbyState state_;
    NorbySettings settings_;
    NorbyFlash flash_;
    NorbyBootLoader bootLoader_;
    std::optional<Reenumeration> pendingRestart_;
};

} // namespace vdev
