#pragma once

// The virtual USB world both buses share: root hubs, hubs and devices on ports, the companion
// links of USB 3 ports, addresses, where a restarted device comes back, the faults set on each
// device and the log of its transfers. A bus front end publishes it (as libusb objects or as
// sysfs and device nodes) and delivers its transfers; it guards the tree with its own lock.

#include "faults.h"
#include "transfer.h"
#include "usbmodel.h"

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vcore {

struct Place {
    NodeId id = -1;
    NodeId parent = -1; // -1 for a root hub
    uint8_t busNumber = 0;
    uint8_t port = 0; // 0 for a root hub
    std::shared_ptr<vdev::UsbDeviceModel> model;
    bool hub = false;
    uint8_t address = 0; // 0 while away
    int enumerations = 0;
    // Bumped when the device is taken off the bus by hand, so that a return still scheduled
    // from before is dropped.
    int generation = 0;
    // A hub's ports that show in sysfs, and their companions on the other bus.
    std::set<uint8_t> ports;
    std::map<uint8_t, std::pair<NodeId, uint8_t>> peers;
    Faults faults;
};

class Tree
{
public:
    NodeId addRootHub(uint8_t busNumber, std::shared_ptr<vdev::UsbDeviceModel> model);
    // Throws std::invalid_argument unless `parentHub` is a hub.
    NodeId add(NodeId parentHub, uint8_t port, std::shared_ptr<vdev::UsbDeviceModel> model);
    // Throws std::out_of_range for an id the tree never gave.
    Place &at(NodeId id);
    const Place &at(NodeId id) const;
    std::vector<NodeId> ids() const;
    std::vector<NodeId> children(NodeId id) const;

    std::vector<uint8_t> pathOf(NodeId id) const;
    // The Linux name of the place: "usb2" for a root hub, "2-3.1" below it.
    std::string nameOf(NodeId id) const;
    const Place &rootOf(NodeId id) const;

    // `port2` of `hub2` and `port3` of `hub3` are the two halves of one USB 3 port.
    void linkPeerPorts(NodeId hub2, uint8_t port2, NodeId hub3, uint8_t port3);
    std::optional<std::pair<uint8_t, std::vector<uint8_t>>> companionPort(
        uint8_t busNumber, const std::vector<uint8_t> &portPath) const;

    // The device enumerates: it gets an address (a root hub 1, as its host controller gives
    // it) and counts one enumeration more.
    uint8_t enumerate(NodeId id);
    void leave(NodeId id) { at(id).address = 0; }
    // Moves a device that left to restart to the port it comes back on; false for Never.
    bool placeForReturn(NodeId id, vdev::Arrival arrival);

    void record(Transfer transfer);
    std::vector<Transfer> transfers() const { return log_; }
    std::vector<Transfer> transfers(NodeId id) const;
    void clearTransfers() { log_.clear(); }
    // A long-running program turns it off so the log does not grow with every flashed byte.
    void setRecordTransfers(bool keep) { keepLog_ = keep; }

private:
    std::map<NodeId, Place> places_;
    std::map<uint8_t, uint8_t> lastAddress_; // per bus
    std::vector<Transfer> log_;
    bool keepLog_ = true;
};

} // namespace vcore
