#pragma once

#include <libusb.h>

#include <utility>

// Owns a handle from libusb_open and closes it with libusb_close. For code that opens a
// libusb_device directly (the probes); handles from device_open belong in OpenedDevice.
class UsbHandle
{
public:
    UsbHandle() = default;
    explicit UsbHandle(libusb_device_handle *handle)
        : handle_(handle)
    {
    }
    UsbHandle(const UsbHandle &) = delete;
    UsbHandle &operator=(const UsbHandle &) = delete;
    UsbHandle(UsbHandle &&other) noexcept
        : handle_(std::exchange(other.handle_, nullptr))
    {
    }
    UsbHandle &operator=(UsbHandle &&other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other.handle_, nullptr));
        return *this;
    }
    ~UsbHandle() { reset(); }

    // libusb_open(device); returns the library's result, and on success owns the handle.
    int open(libusb_device *device)
    {
        libusb_device_handle *handle = nullptr;
        const int rc = libusb_open(device, &handle);
        reset(rc == 0 ? handle : nullptr);
        return rc;
    }

    void reset(libusb_device_handle *handle = nullptr)
    {
        libusb_device_handle *old = std::exchange(handle_, handle);
        if (old)
            libusb_close(old);
    }

    libusb_device_handle *get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    libusb_device_handle *handle_ = nullptr;
};
