#include "buschecks.h"

#include "listeddevice.h"
#include "usbhandle.h"

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
    return listedDevice(vusb::Bus::instance().busNumber(node), vusb::Bus::instance().address(node));
}

DeviceDescription describe(vusb::NodeId node)
{
    return describeListed(
        vusb::Bus::instance().busNumber(node), vusb::Bus::instance().address(node));
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
    UsbHandle handle;
    return handle.open(deviceOf(node).get()) != 0 ? -1
                                                  : libusb_kernel_driver_active(handle.get(), 0);
}

} // namespace testsupport
