#include "deviceaddressing.h"

#include "usblog.h"

namespace {

// USB 3 allows at most 7 tiers below the root; the buffer is generous so that the library
// never truncates the path.
constexpr int kPortPathCapacity = 128;

bool addressesMatch(int16_t wanted, int16_t actual)
{
    return wanted == actual || wanted < 0 || actual < 0;
}

} // namespace

int device_addressing_fill(libusb_device *device, DeviceDescription &desc)
{
    libusb_device_descriptor descriptor {};
    const int rc = libusb_get_device_descriptor(device, &descriptor);
    if (rc < 0) {
        usbProgressLog() << "device_addressing_fill: request for device descriptor fail: "
                         << libusb_error_name(rc) << "(" << rc << "), " << libusb_strerror(rc)
                         << std::endl;
        return rc;
    }

    desc.vendorId = descriptor.idVendor;
    desc.productId = descriptor.idProduct;
    desc.busNumber = libusb_get_bus_number(device);
    desc.deviceAddress = static_cast<int16_t>(libusb_get_device_address(device));
    desc.portNumber = libusb_get_port_number(device);
    desc.parent.reset(libusb_get_parent(device));

    desc.portPath.assign(kPortPathCapacity, 0);
    const int ports = libusb_get_port_numbers(device, desc.portPath.data(), kPortPathCapacity);
    if (ports >= 0)
        desc.portPath.resize(static_cast<size_t>(ports));
    return 0;
}

bool device_addressing_match(libusb_device *device, const DeviceDescription &wanted)
{
    DeviceDescription actual;
    // Hold the device for the duration of the call, whoever else lets go of it meanwhile.
    const UsbDeviceRef hold(device);
    if (device_addressing_fill(device, actual) != 0)
        return false;

    return actual.portPath.size() == wanted.portPath.size() && actual.vendorId == wanted.vendorId
        && actual.productId == wanted.productId && actual.busNumber == wanted.busNumber
        && static_cast<bool>(actual.parent) == static_cast<bool>(wanted.parent)
        && actual.portPath == wanted.portPath
        && addressesMatch(wanted.deviceAddress, actual.deviceAddress);
}
