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

// How a handle holds its device: with interface `interfaceNumber` claimed (device_open), or
// beside the kernel driver that keeps it (on Linux, vendor requests to the device need no
// claim), which close() must leave bound.
enum class DeviceAccess {
    Claimed,
    BesideKernelDriver,
};

// Opens the device like device_open for vendor requests alone: on Linux, when a kernel driver
// is bound to the interface, it is neither detached nor is the interface claimed (`access` says
// BesideKernelDriver); otherwise the interface is claimed as device_open does.
libusb_device_handle *device_open_for_requests(const DeviceDescription &desc, DeviceAccess &access);

// Owns a handle from device_open (or device_open_for_requests) together with the description it
// was opened from, and closes it when it goes away: with device_close, or beside a kernel driver
// with libusb_close alone.
class OpenedDevice
{
public:
    OpenedDevice() = default;
    OpenedDevice(libusb_device_handle *handle, DeviceDescription desc,
        DeviceAccess access = DeviceAccess::Claimed);
    OpenedDevice(const OpenedDevice &) = delete;
    OpenedDevice &operator=(const OpenedDevice &) = delete;
    OpenedDevice(OpenedDevice &&other) noexcept;
    OpenedDevice &operator=(OpenedDevice &&other) noexcept;
    ~OpenedDevice();

    // device_open(desc); the result is empty when that failed.
    static OpenedDevice open(const DeviceDescription &desc);
    // device_open_for_requests(desc): the settings requests and the input-signal poll, which a
    // capture application's video driver must not lose.
    static OpenedDevice openForRequests(const DeviceDescription &desc);

    libusb_device_handle *handle() const { return handle_; }
    const DeviceDescription &description() const { return desc_; }
    DeviceAccess access() const { return access_; }
    explicit operator bool() const { return handle_ != nullptr; }

    // Closes the device now (nothing happens when empty).
    void close();

private:
    libusb_device_handle *handle_ = nullptr;
    DeviceDescription desc_;
    DeviceAccess access_ = DeviceAccess::Claimed;
};
