#pragma once

// The virtual USB bus: the libusb-1.0 default context of the tests. Test code builds a tree
// of hubs and device models here, injects faults, and reads back the transfer log and the
// reference accounting; product code reaches the same bus through the ordinary libusb_*
// functions, which this library implements.

#include "faults.h"
#include "transfer.h"
#include "usbmodel.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vusb {

// A place in the tree: a hub or a plugged device. Stays valid until reset(), also while the
// device is unplugged or re-enumerating.
using NodeId = vcore::NodeId;
// One libusb_control_transfer as the bus saw it.
using TransferRecord = vcore::Transfer;
// Fails occurrences of one request code; besides a vdev::Status the error may be
// vcore::Unplug (the device leaves during the request) or vcore::Hold (it never answers:
// LIBUSB_ERROR_TIMEOUT once the caller's timeout is over).
using RequestFault = vcore::RequestFault;

class Bus
{
public:
    static Bus &instance();

    // Unplugs and forgets everything, including faults, logs and counters. Call it only when
    // no product code holds a libusb object any more.
    void reset();

    // --- topology -------------------------------------------------------------------------
    NodeId addRootHub(uint8_t busNumber);
    NodeId addHub(NodeId parentHub, uint8_t port);
    NodeId plug(NodeId parentHub, uint8_t port, std::shared_ptr<vdev::UsbDeviceModel> model);
    // The device leaves the bus; its libusb_device objects stay valid while referenced, and
    // their handles fail with LIBUSB_ERROR_NO_DEVICE.
    void unplug(NodeId node);
    // Makes two ports of two hubs the halves of one USB 3 port: `hub2`'s on a USB 2 bus and
    // its SuperSpeed companion `hub3`'s on a USB 3 bus. A device whose restart asks for
    // vdev::Arrival::CompanionPort comes back on the other half.
    void linkPeerPorts(NodeId hub2, uint8_t port2, NodeId hub3, uint8_t port3);
    // The same for every port from 1 to `ports` of two hubs (the halves of one USB 3 hub).
    void linkPeerHubs(NodeId hub2, NodeId hub3, uint8_t ports);
    // The companion of the port at `portPath` on bus `busNumber`, as the bus number and port
    // path of the other half; empty when there is none.
    std::optional<std::pair<uint8_t, std::vector<uint8_t>>> companionPort(
        uint8_t busNumber, const std::vector<uint8_t> &portPath) const;
    // Back on its port with a new address (a new libusb_device object).
    void replug(NodeId node);
    bool attached(NodeId node) const;
    uint8_t address(NodeId node) const; // 0 while not on the bus
    uint8_t busNumber(NodeId node) const;
    std::vector<uint8_t> portPath(NodeId node) const;

    // --- faults ---------------------------------------------------------------------------
    void failDeviceList(int error, int times = 1);
    void failDescriptor(NodeId node, int error);
    void failString(NodeId node, uint8_t index, int error);
    // libusb_open fails with `error` the next `times` times (-1: always).
    void failOpen(NodeId node, int error, int times = -1);
    // libusb_open fails with LIBUSB_ERROR_NOT_SUPPORTED until a driver install succeeds.
    void requireDriver(NodeId node);
    // The same from the device's next restart on: the program it restarts into enumerates
    // under an id that no driver has been installed for yet.
    void requireDriverAfterRestart(NodeId node);
    void failClaim(NodeId node, int error);
    void failRequest(NodeId node, RequestFault fault);
    // The device drops off the bus right after its n-th transfer from now.
    void unplugAfterTransfers(NodeId node, int transfers);
    void setKernelDriverActive(NodeId node, bool active);
    // How often product code detached the kernel driver of `node`.
    int kernelDriverDetaches(NodeId node) const;

    // --- hotplug (hotplug.cpp) ------------------------------------------------------------
    // Whether libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) says yes, as libusb does on Linux
    // (the default); without it registering a hotplug callback fails. Every plug, unplug and
    // restart is an arrival or departure for the callbacks, delivered by the next
    // libusb_handle_events_timeout_completed.
    void setHotplugCapable(bool capable);
    // Arrivals and departures delivered so far: every callback they matched has returned.
    int hotplugDeliveries() const;

    // --- the install_winusb_driver double ---------------------------------------------------
    // Results handed out in order; -1 once the script is used up. A 0 makes every device
    // that waits for a driver openable.
    void scriptDriverInstall(std::vector<int> results);
    int driverInstallCalls() const;
    // What usb_access_hint answers for every device from now on (empty: no hint).
    void scriptAccessHint(std::string hint);

    // --- observation ----------------------------------------------------------------------
    std::vector<TransferRecord> transfers() const;
    std::vector<TransferRecord> transfers(NodeId node) const;
    void clearTransfers();
    int openCalls(NodeId node) const;
    // References product code took (list entries, libusb_ref_device) and has not given back.
    int liveReferences() const;
    int openHandles() const;
    int claimedInterfaces() const;
    int openDeviceLists() const;
    // Misuse of the API: releasing what was not held, using closed or released objects.
    std::vector<std::string> misuse() const;
    // Empty when nothing leaked and nothing was misused; otherwise a readable account.
    std::string leakReport() const;

    // Runs `inspect` under the bus lock, for reading model state while workers may run.
    void locked(const std::function<void()> &inspect) const;

    // --- a bus that outlives a test (the drop-in library) ---------------------------------
    // Called after every control transfer, under the bus lock, with the transfer and the
    // model that answered it; it must not call back into the Bus. Empty: none.
    using TransferObserver
        = std::function<void(const TransferRecord &, vdev::UsbDeviceModel &model)>;
    void setTransferObserver(TransferObserver observer);
    // Whether transfers() keeps every transfer; a long-running program turns it off so the
    // log does not grow with every flashed byte.
    void setRecordTransfers(bool record);
    // How fast a control transfer's setup and data cross the bus, one transfer at a time as
    // behind one host controller: each holds the bus for its bytes' time. 0 (the default, and
    // after reset): at once. For benchmarks that need devices to share a bus as real ones do.
    void setWireRate(uint64_t bytesPerSecond);

    Bus(const Bus &) = delete;
    Bus &operator=(const Bus &) = delete;

    struct State;
    State &state() { return *state_; }

private:
    Bus();
    ~Bus();
    static Bus instance_;
    std::unique_ptr<State> state_;
};

} // namespace vusb
