#include "buschecks.h"

#include "deviceaddressing.h"
#include "usbdevicelist.h"

namespace testsupport {

Topology Topology::build()
{
    vusb::Bus &bus = vusb::Bus::instance();
    Topology t;
    t.root1 = bus.addRootHub(1);
    t.root2 = bus.addRootHub(2);
    t.hub = bus.addHub(t.root2, 3);
    return t;
}

UsbDeviceRef deviceOf(vusb::NodeId node)
{
    vusb::Bus &bus = vusb::Bus::instance();
    UsbDeviceList list;
    list.fetch();
    for (ssize_t i = 0; i < list.size(); ++i) {
        libusb_device *device = list.at(i);
        uint8_t path[16] = {};
        const int ports = libusb_get_port_numbers(device, path, 16);
        if (ports >= 0 && std::vector<uint8_t>(path, path + ports) == bus.portPath(node)
            && libusb_get_bus_number(device) == bus.busNumber(node)
            && libusb_get_device_address(device) == bus.address(node))
            return UsbDeviceRef(device);
    }
    return UsbDeviceRef();
}

DeviceDescription describe(vusb::NodeId node)
{
    DeviceDescription desc;
    const UsbDeviceRef device = deviceOf(node);
    if (device)
        device_addressing_fill(device.get(), desc);
    return desc;
}

QStringList wire(vusb::NodeId node)
{
    QStringList out;
    for (const vusb::TransferRecord &t : vusb::Bus::instance().transfers(node)) {
        const QByteArray data(reinterpret_cast<const char *>(t.data.data()), int(t.data.size()));
        out << QString::asprintf("%02x %02x %d %d %d %u: ", t.requestType, t.request, t.value,
                   t.index, t.length, t.timeout)
                + data.toHex(' ');
    }
    return out;
}

int kernelDriverActive(vusb::NodeId node)
{
    libusb_device_handle *handle = nullptr;
    if (libusb_open(deviceOf(node).get(), &handle) != 0)
        return -1;
    const int active = libusb_kernel_driver_active(handle, 0);
    libusb_close(handle);
    return active;
}

} // namespace testsupport
