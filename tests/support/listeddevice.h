#pragma once

// The device a libusb lists at a bus number and address, for the tests on the virtual bus and
// on the real libusb alike: whichever libusb the test is linked with answers.

#include "deviceaddressing.h"
#include "usbdevicelist.h"

namespace testsupport {

// With a reference of its own; empty when nothing is listed there.
inline UsbDeviceRef listedDevice(int busNumber, int address)
{
    UsbDeviceList list;
    list.fetch();
    for (ssize_t i = 0; i < list.size(); ++i) {
        if (libusb_get_bus_number(list.at(i)) == busNumber
            && libusb_get_device_address(list.at(i)) == address)
            return UsbDeviceRef(list.at(i));
    }
    return UsbDeviceRef();
}

// The addressing a scan records for that device (device_addressing_fill); empty when none. It
// holds a reference to the hub above the device.
inline DeviceDescription describeListed(int busNumber, int address)
{
    DeviceDescription desc;
    if (const UsbDeviceRef device = listedDevice(busNumber, address))
        device_addressing_fill(device.get(), desc);
    return desc;
}

} // namespace testsupport
