#pragma once

#include "devicedescription.h"

#include <libusb.h>

// Opens the device that `desc` names (its `device` reference when set, else the first device
// on the bus that device_addressing_match accepts and that opens) and claims interface
// `interfaceNumber`. Returns null on failure; the reasons go to the USB logs.
libusb_device_handle *device_open(const DeviceDescription &desc);

// Gives back a handle from device_open: releases the interface, re-attaches the kernel driver
// and closes. A null handle is ignored.
void device_close(libusb_device_handle *handle, const DeviceDescription &desc);

// Owns a handle from device_open together with the description it was opened from, and
// closes it with device_close when it goes away.
class OpenedDevice
{
public:
    OpenedDevice() = default;
    OpenedDevice(libusb_device_handle *handle, DeviceDescription desc);
    OpenedDevice(const OpenedDevice &) = delete;
    OpenedDevice &operator=(const OpenedDevice &) = delete;
    OpenedDevice(OpenedDevice &&other) noexcept;
    OpenedDevice &operator=(OpenedDevice &&other) noexcept;
    ~OpenedDevice();

    // device_open(desc); the result is empty when that failed.
    static OpenedDevice open(const DeviceDescription &desc);

    libusb_device_handle *handle() const { return handle_; }
    const DeviceDescription &description() const { return desc_; }
    explicit operator bool() const { return handle_ != nullptr; }

    // Closes the device now (nothing happens when empty).
    void close();

private:
    libusb_device_handle *handle_ = nullptr;
    DeviceDescription desc_;
};
