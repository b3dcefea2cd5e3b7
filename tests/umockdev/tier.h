#pragma once

// Shared by the tests on the real libusb-1.0 with devices emulated by umockdev: a fresh test
// bed and libusb context for every test function, and the checks that end each one.

#include "listeddevice.h"
#include "usbfsbus.h"

#include <QObject>
#include <QStringList>

#include <linux/capability.h>
#include <memory>
#include <vector>

namespace tier {

// A PC's USB 3 controller as Linux shows it: bus 1 is its high-speed half, bus 2 its
// SuperSpeed half, and root port N of one is the companion of root port N of the other. A USB
// 3 hub on root port 3 is two hubs too, one on each bus, with companion ports.
struct Topology {
    usbfs::NodeId root2 = -1; // bus 1, high speed
    usbfs::NodeId root3 = -1; // bus 2, SuperSpeed
    usbfs::NodeId hub2 = -1; // bus 1, root port 3
    usbfs::NodeId hub3 = -1; // bus 2, root port 3

    static Topology build(usbfs::Bus &bus);
};

// Base of the tier's test classes. Every test function gets a new bus and then a new default
// libusb context (libusb listens to the test bed that exists when it starts), and fails at its
// end unless every file of a device node was closed, libusb_exit found no libusb_device still
// referenced and no handle open, the emulation met no request it does not know, and every
// GLib object of the test bed was finalized.
class TierTestCase : public QObject
{
    Q_OBJECT

protected:
    usbfs::Bus &bus() { return *bus_; }

protected slots:
    void init();
    void cleanup();

private:
    std::unique_ptr<usbfs::Bus> bus_;
};

// The tier's own install_winusb_driver (driverdouble.cpp, compiled into each executable so the
// real one is never linked) hands out scripted results in order, -1 (a plain failure, what
// Linux answers a root process) once the script is used up, and counts its calls: neither the
// machine's udev rule nor running as root may decide what a test sees.
void scriptDriverInstall(std::vector<int> results);
int driverInstallCalls();

// What libusb said at warning level or above since the context was made.
QStringList libusbWarnings();

// The device at `node`, with a reference of its own (null when it is not listed).
inline UsbDeviceRef deviceAt(usbfs::Bus &bus, usbfs::NodeId node)
{
    return testsupport::listedDevice(bus.busNumber(node), bus.address(node));
}

// The addressing a scan records for `node`, read through the real libusb: drop it before the
// test function ends, or libusb_exit finds the hub reference it holds.
inline DeviceDescription describe(usbfs::Bus &bus, usbfs::NodeId node)
{
    return testsupport::describeListed(bus.busNumber(node), bus.address(node));
}

// The device's vendor requests, one a line: "type request value index length: bytes -> result",
// hexadecimal but for the decimal value, index, length and result.
QStringList wire(const usbfs::Bus &bus, usbfs::NodeId node);

// The usbfs calls that concern interface 0 and its drivers, and the vendor requests, in order
// (see usbfs::Bus::calls).
QStringList driverCalls(const usbfs::Bus &bus, usbfs::NodeId node);

// While it lives, the calling thread cannot override file permissions, and neither can the
// threads it starts (they keep that for good): a desktop user's process, even when the tests
// run as root. Restores the thread's own capabilities when it goes.
class WithoutFileOverride
{
public:
    WithoutFileOverride();
    ~WithoutFileOverride();
    WithoutFileOverride(const WithoutFileOverride &) = delete;
    WithoutFileOverride &operator=(const WithoutFileOverride &) = delete;

private:
    __user_cap_data_struct saved_[2] {};
};

} // namespace tier
