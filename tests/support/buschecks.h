#pragma once

#include "virtualbus.h"

#include <QTest>

// Every test that touches the virtual bus starts from an empty bus and ends with nothing
// leaked: no libusb_device reference, handle, claimed interface or device list left over, and
// no release of something that was not held.
#define VERIFY_BUS_CLEAN()                                                                         \
    do {                                                                                           \
        const std::string report_ = vusb::Bus::instance().leakReport();                            \
        QVERIFY2(report_.empty(), report_.c_str());                                                \
    } while (false)

namespace testsupport {

// Two buses: bus 1 with its root hub, bus 2 with its root hub and an external hub on port 3.
struct Topology {
    vusb::NodeId root1 = -1;
    vusb::NodeId root2 = -1;
    vusb::NodeId hub = -1; // bus 2, port 3

    static Topology build();
};

} // namespace testsupport

#include "devicedescription.h"

#include <QStringList>

namespace testsupport {

// The libusb_device now enumerated for `node`, with a reference of its own; empty when the
// node is not on the bus.
UsbDeviceRef deviceOf(vusb::NodeId node);

// The addressing a scan would record for `node` (device_addressing_fill of its device).
DeviceDescription describe(vusb::NodeId node);

// The control transfers to `node` so far, one a line: "type request value index length
// timeout: bytes", in hex but for the decimal value, index, length and timeout.
QStringList wire(vusb::NodeId node);

// Whether a kernel driver holds interface 0 of `node` (1 or 0); -1 when it cannot be opened.
int kernelDriverActive(vusb::NodeId node);

} // namespace testsupport
