#include "norbydevice.h"

#include <memory>

namespace vdev {

NorbyDevice::NorbyDevice(Config config)
    : config_(std::move(config))
    , state_(config_.state)
{
    const uint16_t family = config_.familyId & 0xFFF0;
    const bool fourK = family == 0x3630 || family == 0x3640;
    flash_.setFpgaFormat(config_.fpgaFormat.value_or(
        fourK ? NorbyFlash::FpgaFormat::Plain : NorbyFlash::FpgaFormat::Framed));
}

std::shared_ptr<NorbyDevice> NorbyDevice::make(uint16_t familyId, NorbyState state)
{
    Config config;
    config.familyId = familyId;
    config.state = state;
    return std::make_shared<NorbyDevice>(config);
}

Identity NorbyDevice::identity() const
{
    Identity id;
    id.vendorId = config_.vendorId;
    id.manufacturerIndex = ManufacturerIndex;
    id.productIndex = ProductIndex;
    id.serialIndex = config_.serial ? SerialIndex : 0;
    const uint16_t family = config_.familyId & 0xFFF0;
    switch (state_) {
    case NorbyState::Application:
        id.productId = family | 0x1;
        break;
    case NorbyState::SoftRepair:
        id.productId = family;
        break;
    case NorbyState::Sandbox:
        id.productId = family | 0xF;
        break;
    case NorbyState::BootLoader:
        id.vendorId = BootLoaderVendorId;
        id.productId = BootLoaderProductId;
        id.serialIndex = 0;
        break;
    }
    return id;
}

std::optional<std::string> NorbyDevice::stringDescriptor(uint8_t index) const
{
    switch (index) {
    case ManufacturerIndex:
        return std::string("Lumexor");
    case ProductIndex:
        if (state_ == NorbyState::BootLoader)
            return std::string("FX3 Boot Loader");
        return config_.product;
    case VersionIndex:
        // Only the application firmware carries its version text.
        return state_ == NorbyState::Application ? config_.version : std::nullopt;
    case SerialIndex:
        return state_ == NorbyState::BootLoader ? std::nullopt : config_.serial;
    default:
        return std::nullopt;
    }
}

int NorbyDevice::control(const ControlSetup &setup, uint8_t *data)
{
    std::optional<int> answer;
    switch (state_) {
    case NorbyState::Application:
        answer = settings_.handle(setup, data);
        if (!answer)
            answer = flash_.handle(setup, data);
        break;
    case NorbyState::Sandbox:
        answer = flash_.handle(setup, data);
        break;
    case NorbyState::SoftRepair:
    case NorbyState::BootLoader:
        answer = bootLoader_.handle(setup, data);
        if (bootLoader_.takeStart()) {
            // The loaded program is the sandbox microcode: the device drops off the bus and
            // enumerates again with the family's sandbox id.
            state_ = NorbyState::Sandbox;
            pendingRestart_ = config_.restart;
        }
        break;
    }
    return answer.value_or(Pipe);
}

std::optional<Reenumeration> NorbyDevice::takeReenumeration()
{
    std::optional<Reenumeration> restart;
    restart.swap(pendingRestart_);
    return restart;
}

} // namespace vdev
