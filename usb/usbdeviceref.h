#pragma once

#include <libusb.h>

// One counted library reference to a libusb_device. Copies take a reference of their own and
// every instance gives its reference back when it is destroyed or reset, so a record holding
// these can be copied freely across threads without leaking or over-releasing the device.
class UsbDeviceRef
{
public:
    UsbDeviceRef() = default;
    // Takes a new reference on `device` (null stays null).
    explicit UsbDeviceRef(libusb_device *device);
    UsbDeviceRef(const UsbDeviceRef &other);
    UsbDeviceRef(UsbDeviceRef &&other) noexcept;
    UsbDeviceRef &operator=(const UsbDeviceRef &other);
    UsbDeviceRef &operator=(UsbDeviceRef &&other) noexcept;
    ~UsbDeviceRef();

    // Takes a reference on `device` first, then releases the one held before, so resetting to
    // the same device never drops its last reference in between.
    void reset(libusb_device *device = nullptr);

    libusb_device *get() const { return device_; }
    explicit operator bool() const { return device_ != nullptr; }

private:
    libusb_device *device_ = nullptr;
};
