#pragma once

// Internals of the usbfs test bed, shared by the files that each do one of its jobs. The tree
// (places, addresses, faults, the transfer log) is vcore::Tree; what is here is how the bed
// publishes it (sysfs, device nodes, uevents) and how transfers arrive (URB ioctls).

#include "gref.h"
#include "pollsignal.h"
#include "tree.h"
#include "usbfsbus.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <umockdev.h>
#include <vector>

namespace usbfs {

using Clock = std::chrono::steady_clock;

// How long the emulation waits for umockdev's worker thread: what it waits for takes the worker
// a few iterations of its loop, which a loaded machine may delay; only a leak or a hang takes
// longer.
constexpr std::chrono::milliseconds WorkerBound {5000};

// Counts `object` until it is finalized (gobjects.cpp).
void track(GObject *object);
// Waits (at most `bound`) until all of `objects` are finalized; returns whether they are.
bool waitFinalized(const std::vector<GObject *> &objects, std::chrono::milliseconds bound);

struct Urb {
    enum class Stage {
        Queued, // waiting for the device
        Running, // the device is answering it
        Held, // the device will never answer it
        Done, // reapable
    };

    GRef<UMockdevIoctlData> urb; // the client's struct usbdevfs_urb
    GRef<UMockdevIoctlData> buffer; // its setup packet and data
    UMockdevIoctlClient *client = nullptr;
    gulong address = 0; // of the struct in the client, which DISCARDURB names
    vdev::ControlSetup setup;
    std::vector<uint8_t> sent;
    int injected = 0; // a fault's answer in place of the model's
    Stage stage = Stage::Queued;
    bool discarded = false;
};
using UrbPtr = std::shared_ptr<Urb>;

// One open file of a device node.
struct Client {
    std::vector<UrbPtr> inFlight;
    std::deque<UrbPtr> reapable;
    uint32_t claimed = 0; // interfaces, one bit each
    // A USBDEVFS_REAPURB that blocks until a URB completes.
    GRef<UMockdevIoctlClient> waitingReap;
};

// One presence of a device on the bus, from its "add" to its "remove": an address, a node, a
// sysfs folder. Kept until the Bus goes, since open files of a departed device still reach it.
struct Enumeration : std::enable_shared_from_this<Enumeration> {
    Bus::Impl *bus = nullptr;
    NodeId node = -1;
    uint8_t busNumber = 0;
    uint8_t address = 0;
    bool superSpeed = false;
    std::string name; // "2-3.1"
    std::string syspath; // "/sys/devices/usb2/2-3/2-3.1"
    std::string interfaceName; // "2-3.1:1.0"
    std::string devnode; // "/dev/bus/usb/002/005"
    std::shared_ptr<vdev::UsbDeviceModel> model;
    std::vector<uint8_t> device;
    std::vector<uint8_t> configuration;
    std::unique_ptr<PollSignal> signal;
    GRef<UMockdevIoctlBase> handler;
    bool present = false;
    std::map<UMockdevIoctlClient *, Client> clients;
    // The driver of interface 0: empty, "usbfs" while a client has claimed it, or a kernel
    // driver.
    std::string driver;
};

// What the bed publishes for a place of the tree.
struct Presence {
    Speed speed = Speed::High; // of a root hub's bus
    std::shared_ptr<Enumeration> current;
    std::vector<std::string> calls;
};

struct Bus::Impl {
    GRef<UMockdevTestbed> testbed;
    std::string root;

    // Held while a model answers a request; Bus::locked takes it too.
    mutable std::mutex modelMutex;
    // Everything below. Never held while waiting for modelMutex.
    mutable std::mutex stateMutex;
    mutable std::condition_variable filesChanged;
    vcore::Tree tree;
    std::map<NodeId, Presence> presence;
    std::vector<std::shared_ptr<Enumeration>> enumerations;
    std::map<std::string, std::shared_ptr<Enumeration>> attachedAt; // node path -> handler owner
    std::vector<std::string> unexpected;
    int openFiles = 0;

    // The bus thread (busthread.cpp): URBs are answered and devices arrive and leave there, in
    // order; every change to the test bed is made there.
    std::mutex jobMutex;
    std::condition_variable jobWake;
    std::multimap<Clock::time_point, std::function<void()>> jobs;
    bool stopping = false;
    std::thread thread;

    // umockdev's worker thread runs the handlers in a GMainContext of its own (worker.cpp).
    std::mutex workerMutex;
    std::condition_variable workerChanged;
    GMainContext *worker = nullptr;
    GRef<UMockdevIoctlBase> workerProbe;

    Impl();
    ~Impl();

    void loop();
    void post(std::function<void()> job, Clock::time_point due = Clock::now());
    void runOnBus(const std::function<void()> &job);
    void findWorker();
    void workerFound(GMainContext *context);
    bool syncWorker();
    void detach(const std::string &devnode);
    void releaseHandlers();

    // With stateMutex held.
    Presence &at(NodeId id);
    const Presence &at(NodeId id) const;

    // On the bus thread (enumeration.cpp, sysfs.cpp).
    void arrive(NodeId id);
    void depart(NodeId id);
    // The device leaves the bus (sysfs, node, uevent) but its open files do not hang up yet.
    std::shared_ptr<Enumeration> leave(NodeId id);
    void hangUp(Enumeration &e);
    void restart(NodeId id, const vdev::Reenumeration &restart);
    void publish(const Enumeration &e, const vdev::Identity &identity);
    void writeSysfs(const Enumeration &e, const vdev::Identity &identity, NodeId id);
    void showPorts(NodeId hub);
    std::string portFolder(NodeId hub, uint8_t port) const; // under the test bed's root
    void runUrb(const std::shared_ptr<Enumeration> &e, const UrbPtr &urb);

    // On umockdev's worker thread (ioctls.cpp).
    gboolean handleIoctl(Enumeration &e, UMockdevIoctlClient *client);
    void connected(Enumeration &e, UMockdevIoctlClient *client);
    void vanished(Enumeration &e, UMockdevIoctlClient *client);

    // With stateMutex held (urbs.cpp, interfaces.cpp).
    gboolean submit(Enumeration &e, UMockdevIoctlClient *client, UMockdevIoctlData *arg);
    gboolean discard(Enumeration &e, UMockdevIoctlClient *client, UMockdevIoctlData *arg);
    gboolean interfaceCall(
        Enumeration &e, UMockdevIoctlClient *client, gulong request, UMockdevIoctlData *arg);
    // `in`: the data of a device-to-host request; `actual`: the bytes a write delivered. Without
    // `signal` the URB is reapable but its file does not poll ready for it yet.
    void finish(Enumeration &e, UrbPtr urb, int status, const std::vector<uint8_t> &in = {},
        int actual = 0, bool signal = true);
    void deliver(Enumeration &e, Client &c, UMockdevIoctlClient *client, UrbPtr urb);
    void updateReady(Enumeration &e);
    void releaseInterface(Enumeration &e, UMockdevIoctlClient *client);
    // The claim usbfs asks of a standard or class request to an interface: 0 when the file
    // holds it or now takes it, else the errno the URB submission fails with.
    int claimForRequest(
        Enumeration &e, UMockdevIoctlClient *client, const vdev::ControlSetup &setup);
};

// The size of T at the start of an ioctl's argument, or null when the client's memory cannot be
// read; `holder` keeps it.
template<typename T> T *resolve(UMockdevIoctlData *arg, GRef<UMockdevIoctlData> &holder)
{
    holder = GRef<UMockdevIoctlData>(umockdev_ioctl_data_resolve(arg, 0, sizeof(T), nullptr));
    return holder ? reinterpret_cast<T *>(holder->data) : nullptr;
}

std::string hex(unsigned value, int width);

} // namespace usbfs
