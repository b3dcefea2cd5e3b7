#include "usbdeviceref.h"

#include <utility>

UsbDeviceRef::UsbDeviceRef(libusb_device *device)
{
    reset(device);
}

UsbDeviceRef::UsbDeviceRef(const UsbDeviceRef &other)
{
    reset(other.device_);
}

UsbDeviceRef::UsbDeviceRef(UsbDeviceRef &&other) noexcept
    : device_(std::exchange(other.device_, nullptr))
{
}

UsbDeviceRef &UsbDeviceRef::operator=(const UsbDeviceRef &other)
{
    reset(other.device_);
    return *this;
}

UsbDeviceRef &UsbDeviceRef::operator=(UsbDeviceRef &&other) noexcept
{
    if (this != &other) {
        reset();
        device_ = std::exchange(other.device_, nullptr);
    }
    return *this;
}

UsbDeviceRef::~UsbDeviceRef()
{
    reset();
}

void UsbDeviceRef::reset(libusb_device *device)
{
    if (device)
        libusb_ref_device(device);
    libusb_device *old = std::exchange(device_, device);
    if (old)
        libusb_unref_device(old);
}
