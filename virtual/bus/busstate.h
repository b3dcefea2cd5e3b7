#pragma once

// Internals of the virtual bus, shared by the test-facing Bus and the libusb emulation. Every
// member is guarded by State::mutex.

#include "virtualbus.h"

#include <chrono>
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

struct Node {
    NodeId id = -1;
    NodeId parent = -1; // -1 for a root hub
    uint8_t busNumber = 0;
    uint8_t port = 0; // 0 for a root hub
    std::shared_ptr<vdev::UsbDeviceModel> model;
    libusb_device *current = nullptr; // the enumeration now on the bus, if any
    bool plugged = false;
    // A restart in progress: the device comes back at `returnAt`.
    bool returning = false;
    std::chrono::steady_clock::time_point returnAt;

    // Faults.
    int descriptorError = 0;
    std::map<uint8_t, int> stringErrors;
    int openError = 0;
    int openFailuresLeft = 0;
    bool needsDriver = false;
    bool needsDriverAfterRestart = false;
    int claimError = 0;
    std::vector<RequestFault> requestFaults;
    std::map<uint8_t, int> requestCounts;
    int unplugAfter = -1;
    bool kernelDriverActive = false;
    bool kernelDriverDetached = false;

    int openCalls = 0;
};

struct Bus::State {
    using TransferObserver = Bus::TransferObserver;

    mutable std::mutex mutex;
    std::map<NodeId, Node> nodes;
    std::vector<std::unique_ptr<libusb_device>> devices; // every enumeration ever made
    std::vector<std::unique_ptr<libusb_device_handle>> handles;
    std::set<libusb_device **> lists;
    std::map<uint8_t, uint8_t> lastAddress; // per bus
    std::vector<TransferRecord> transfers;
    std::vector<std::string> misuse;
    std::deque<int> driverScript;
    int driverCalls = 0;
    int deviceListError = 0;
    int deviceListFailures = 0;
    int initCount = 0;
    TransferObserver observer;
    bool recordTransfers = true;
    // Companion ports of USB 3 hubs, both ways: (hub, port) -> (hub, port).
    std::map<std::pair<NodeId, uint8_t>, std::pair<NodeId, uint8_t>> peers;

    Node &node(NodeId id);
    const Node &node(NodeId id) const;
    void enumerate(Node &node);
    void detach(Node &node);
    void processArrivals();
    // Puts a detached node on the companion of its port, if the port has one.
    void moveToCompanion(Node &node);
    void ref(libusb_device *device);
    void unrefInternal(libusb_device *device);
    // Gives back one reference the product took; the device object is released with its last.
    void releaseApiRef(libusb_device *device);
    void note(const std::string &what);
    bool usable(const libusb_device *device, const char *call);
    bool usable(const libusb_device_handle *handle, const char *call);
};

} // namespace vusb
