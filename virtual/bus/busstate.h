#pragma once

// Internals of the virtual bus, shared by the test-facing Bus and the libusb emulation. Every
// member is guarded by State::mutex.

#include "tree.h"
#include "virtualbus.h"

#include <libusb.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>

struct libusb_device {
    vusb::NodeId node = -1;
    uint8_t busNumber = 0;
    uint8_t address = 0;
    uint8_t portNumber = 0;
    std::vector<uint8_t> portPath;
    vdev::Identity identity;
    // The hub above; this object holds a reference on it, as libusb's own objects do.
    libusb_device *parent = nullptr;
    bool attached = false;
    bool released = false;
    int internalRefs = 0; // the bus while attached, children, open handles
    int apiRefs = 0; // list entries and libusb_ref_device of the product
};

struct libusb_device_handle {
    libusb_device *device = nullptr;
    std::set<int> claimed;
    bool closed = false;
};

namespace vusb {

// libusb's hotplug notification (hotplug.cpp): the registered callbacks, and the arrivals and
// departures that wait for the next event handling, each holding a reference on its device.
struct HotplugCallback {
    int handle = 0;
    int events = 0;
    int vendorId = LIBUSB_HOTPLUG_MATCH_ANY;
    int productId = LIBUSB_HOTPLUG_MATCH_ANY;
    int deviceClass = LIBUSB_HOTPLUG_MATCH_ANY;
    libusb_hotplug_callback_fn function = nullptr;
    void *userData = nullptr;
};
struct Hotplug {
    bool capable = true;
    int nextHandle = 1;
    std::vector<HotplugCallback> callbacks;
    std::deque<std::pair<libusb_device *, libusb_hotplug_event>> events;
    bool interrupted = false;
    int delivered = 0;
};

// What the libusb emulation publishes for a place of the tree.
struct Node {
    libusb_device *current = nullptr; // the enumeration now on the bus, if any
    // A restart in progress: the device comes back at `returnAt`.
    bool returning = false;
    std::chrono::steady_clock::time_point returnAt;
    bool kernelDriverActive = false;
    bool kernelDriverDetached = false;
    int detaches = 0; // of the kernel driver, by product code
    int openCalls = 0;
};

struct Bus::State {
    using TransferObserver = Bus::TransferObserver;

    mutable std::mutex mutex;
    vcore::Tree tree;
    std::map<NodeId, Node> nodes;
    std::vector<std::unique_ptr<libusb_device>> devices; // every enumeration ever made
    std::vector<std::unique_ptr<libusb_device_handle>> handles;
    std::set<libusb_device **> lists;
    std::vector<std::string> misuse;
    std::deque<int> driverScript;
    int driverCalls = 0;
    std::string accessHint;
    int deviceListError = 0;
    int deviceListFailures = 0;
    int initCount = 0;
    TransferObserver observer;
    Hotplug hotplug;
    // Wakes a thread in libusb_handle_events_timeout_completed.
    std::condition_variable eventsChanged;
    uint64_t wireBytesPerSecond = 0;

    // Both throw std::out_of_range for an id the tree never gave.
    Node &node(NodeId id);
    vcore::Faults &faults(NodeId id) { return tree.at(id).faults; }
    NodeId add(NodeId parent, uint8_t port, std::shared_ptr<vdev::UsbDeviceModel> model);
    void enumerate(NodeId id);
    void detach(NodeId id);
    void processArrivals();
    // Queues the arrival or departure for the hotplug callbacks, if any are registered.
    void noteHotplug(libusb_device *device, libusb_hotplug_event event);
    // The device leaves the bus to restart and comes back as `restart` says.
    void scheduleReturn(NodeId id, const vdev::Reenumeration &restart);
    void ref(libusb_device *device);
    void unrefInternal(libusb_device *device);
    // Gives back one reference the product took; the device object is released with its last.
    void releaseApiRef(libusb_device *device);
    void note(const std::string &what);
    bool usable(const libusb_device *device, const char *call);
    bool usable(const libusb_device_handle *handle, const char *call);
    // The claim usbfs asks of a standard or class request to an interface (interfaces.cpp):
    // 0 when the handle has it or now takes it, LIBUSB_ERROR_IO when a kernel driver or another
    // handle holds it.
    int claimForRequest(libusb_device_handle *handle, uint8_t requestType, uint16_t index);
};

} // namespace vusb
