#pragma once

#include "usbdeviceref.h"

#include <QMetaType>
#include <QString>

#include <cstdint>
#include <vector>

// State of the hardware behind a description.
enum DeviceMode : int32_t {
    Normal = 0, // application firmware
    SoftRepair = 1, // application firmware gone, FX3 waits for a RAM image
    HardRepair = 2, // the bare FX3 ROM boot loader
    DirectUpdate = 3, // sandbox microcode running from RAM, takes the flashing requests
};

// Settings blocks that the device's firmware offers.
enum DeviceCapability : uint32_t {
    CapDeviceSettings = 0x01,
    CapAspectRatio = 0x02,
    CapPerformanceMode = 0x04,
    CapAudioSelector = 0x08,
    CapUserModes = 0x10,
};

// What one attached device is and where it sits on the bus. A plain value: copies take their
// own references on `device` and `parent`, so it can travel by value through queued signals.
struct DeviceDescription {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t interfaceNumber = 0;
    uint8_t busNumber = 0;
    // Negative while searching means "any address": a device that re-enumerates after a mode
    // switch gets a new address but stays on its port.
    int16_t deviceAddress = 0;
    uint8_t portNumber = 0;
    std::vector<uint8_t> portPath;
    int32_t mode = Normal;
    QString product;
    QString serial;
    QString version;
    QString modeText;
    // When set, device_open opens this device directly instead of searching the bus.
    UsbDeviceRef device;
    UsbDeviceRef parent;
    bool installDriverIfUnsupported = false;
    uint32_t capabilities = 0;
};

Q_DECLARE_METATYPE(DeviceDescription)

// A vendor or product id as the front ends show it: four lower-case hex digits, "2b77".
QString hexId(uint16_t id);

// Registers "DeviceDescription" and the alias "uint8_t" (the request code type of the
// configuration signals) with Qt's type system, so both can travel through queued signals.
// Safe to call more than once.
void registerUsbMetaTypes();
