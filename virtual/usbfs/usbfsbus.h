#pragma once

// The device models of virtual/devices behind the real libusb-1.0: a umockdev test bed holds a
// sysfs tree and /dev/bus/usb nodes as Linux shows them, and a usbfs emulation answers the
// ioctls that libusb's Linux backend makes on those nodes. The process must run under
// umockdev's preload (umockdev-wrapper, or LD_PRELOAD=libumockdev-preload.so.0), which sends
// its /sys and /dev accesses, its uevent socket and those ioctls to the test bed.
//
// Create the Bus before libusb_init and destroy it after libusb_exit: libusb's udev monitor
// only listens to the test bed that existed when it started.

#include "faults.h"
#include "transfer.h"
#include "usbmodel.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace usbfs {

// A place in the tree, as vusb::NodeId: a hub or a plugged device, valid while its Bus lives,
// also while the device is away.
using NodeId = vcore::NodeId;
// One control URB as the device answered it (no timeout: a URB carries none). Its result is a
// byte count or a negative vdev::Status: NoDevice for a URB the device's departure ended,
// Interrupted for one the host discarded.
using Transfer = vcore::Transfer;
using RequestFault = vcore::RequestFault;

// The speed of a root hub's bus: a USB 2 bus (high speed) or the SuperSpeed bus of a USB 3
// controller. Everything below a root hub runs at its bus's speed.
enum class Speed {
    High,
    Super,
};

class Bus
{
public:
    // Throws std::runtime_error when the process does not run under umockdev's preload, or
    // when umockdev's worker thread accepts no file of the test bed.
    Bus();
    // Takes every device off the bus and removes the test bed. Waits (bounded) until
    // umockdev's worker thread has let go of the bus's ioctl handlers, so that everything the
    // bus made is finalized when it returns.
    ~Bus();
    Bus(const Bus &) = delete;
    Bus &operator=(const Bus &) = delete;

    // --- topology -------------------------------------------------------------------------
    // Root hub "usbB" with device address 1.
    NodeId addRootHub(uint8_t busNumber, Speed speed);
    NodeId addHub(NodeId parentHub, uint8_t port);
    // The device enumerates at once ("add" uevent) under the model's identity.
    NodeId plug(NodeId parentHub, uint8_t port, std::shared_ptr<vdev::UsbDeviceModel> model);
    // The two halves of one USB 3 port: `port2` of `hub2` (on a USB 2 bus) and `port3` of
    // `hub3` (on the SuperSpeed bus). Each port folder gets a "peer" link to the other.
    void linkPeerPorts(NodeId hub2, uint8_t port2, NodeId hub3, uint8_t port3);
    // The same for ports 1 to `ports` of two hubs (the halves of one USB 3 hub).
    void linkPeerHubs(NodeId hub2, NodeId hub3, uint8_t ports);
    // The device (with whatever is behind it) leaves the bus: its URBs in flight fail, its
    // open files hang up, its node and sysfs folder go, a "remove" uevent is sent.
    void unplug(NodeId node);
    // Back on its port, under a new address.
    void replug(NodeId node);

    bool attached(NodeId node) const;
    uint8_t address(NodeId node) const; // 0 while away
    uint8_t busNumber(NodeId node) const;
    std::vector<uint8_t> portPath(NodeId node) const;
    // The Linux name of the device's place: "usb2", "2-3.1".
    std::string name(NodeId node) const;
    // How many times the device has enumerated so far (1 after plug).
    int enumerations(NodeId node) const;

    // --- set-up and faults ----------------------------------------------------------------
    // Occurrences of a request code fail as `fault` says, counted from now: a stall or another
    // vdev::Status the device answers with, vcore::Unplug (it leaves while the request is in
    // flight and does not come back) or vcore::Hold (the URB stays in flight until the host
    // discards it).
    void failRequest(NodeId node, RequestFault fault);
    // A kernel driver that binds interface 0 whenever the device enumerates and whenever
    // usbfs hands the interface back (USBDEVFS_CONNECT); empty: none matches the device.
    void setKernelDriver(NodeId node, const std::string &driver);
    // failRequest with vcore::Unplug for one occurrence.
    void unplugDuring(NodeId node, uint8_t request, int occurrence);
    // The device's node can be opened by nobody but a process that overrides file
    // permissions (mode 0000), from its next enumeration on: vusb's failOpen with
    // vdev::Access for good.
    void denyAccess(NodeId node);
    // failRequest with vcore::Hold for every occurrence.
    void holdRequests(NodeId node, uint8_t request);

    // --- observation ----------------------------------------------------------------------
    // The driver on interface 0 now: empty, "usbfs" while a program has claimed it, or the
    // kernel driver.
    std::string boundDriver(NodeId node) const;
    // Every control request the device answered (or that failed in flight), in order.
    std::vector<Transfer> transfers(NodeId node) const;
    // The usbfs calls on the device's nodes in order, one line each: "open", "close",
    // "claim 0", "release 0", "getdriver 0: uvcvideo", "disconnect 0: uvcvideo",
    // "connect 0: uvcvideo" (or ": none" when no driver took it), "disconnect-claim 0", and
    // "urb c0 c8" (request type and code) for every submitted URB, "claim 0 (implicit)" when a
    // standard or class request to the interface claimed it on the way. A failure ends in
    // " -> ENODATA" and the like.
    std::vector<std::string> calls(NodeId node) const;
    void clearLogs();
    // Files of the bus's nodes open now, over all devices.
    int openFiles() const;
    // Waits (at most `bound`) until no file of the bus's nodes is open; a closed file is
    // counted off asynchronously. Returns whether none is.
    bool waitForClosedFiles(std::chrono::milliseconds bound) const;
    // Requests of libusb that this emulation does not know, and URBs it cannot take. Empty
    // when libusb only used what a kernel's usbfs would have answered here.
    std::vector<std::string> unexpected() const;

    // Runs `inspect` with the models to itself: no request is answered meanwhile.
    void locked(const std::function<void()> &inspect) const;

    // The test bed's root folder (its sys/ and dev/ trees), for checks of the layout.
    std::string rootDirectory() const;

    // The test beds and ioctl handlers of all buses not finalized yet: 0 as soon as every Bus
    // is gone, unless a GLib reference leaked.
    static int liveGObjects();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace usbfs
