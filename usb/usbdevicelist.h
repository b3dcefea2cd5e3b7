#pragma once

#include <libusb.h>

// The library's device list; frees it, dropping the list's own references, when it goes.
class UsbDeviceList
{
public:
    UsbDeviceList() = default;
    UsbDeviceList(const UsbDeviceList &) = delete;
    UsbDeviceList &operator=(const UsbDeviceList &) = delete;
    ~UsbDeviceList() { free(); }

    // libusb_get_device_list on the default context: the count, or a negative libusb code.
    ssize_t fetch()
    {
        free();
        const ssize_t count = libusb_get_device_list(nullptr, &list_);
        size_ = count > 0 ? count : 0;
        return count;
    }
    ssize_t size() const { return size_; }
    libusb_device *at(ssize_t i) const { return list_[i]; }
    void free()
    {
        if (list_)
            libusb_free_device_list(list_, 1);
        list_ = nullptr;
        size_ = 0;
    }

private:
    libusb_device **list_ = nullptr;
    ssize_t size_ = 0;
};
