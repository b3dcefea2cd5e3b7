#include "usbfsbus.h"

#include "descriptors.h"
#include "gref.h"
#include "hubmodel.h"
#include "pollsignal.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <linux/usb/ch9.h>
#include <linux/usbdevice_fs.h>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <sys/ioctl.h>
#include <thread>
#include <umockdev.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace usbfs {

namespace {

using Clock = std::chrono::steady_clock;

// The GLib objects of the test beds that are not finalized yet. A finalization may come on
// umockdev's worker thread, also after the Bus that made the object is gone.
struct Tracked {
    std::mutex mutex;
    std::condition_variable finalized;
    std::set<GObject *> live;
};

Tracked &tracked()
{
    // Never destroyed: a worker thread may still finalize an object while the process exits.
    static Tracked *const instance = new Tracked;
    return *instance;
}

void objectFinalized(gpointer, GObject *object)
{
    Tracked &t = tracked();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.live.erase(object);
    t.finalized.notify_all();
}

// Counts `object` until it is finalized.
void track(GObject *object)
{
    {
        Tracked &t = tracked();
        std::lock_guard<std::mutex> lock(t.mutex);
        t.live.insert(object);
    }
    g_object_weak_ref(object, objectFinalized, nullptr);
}

// Waits (at most `bound`) until all of `objects` are finalized; returns whether they are.
bool waitFinalized(const std::vector<GObject *> &objects, std::chrono::milliseconds bound)
{
    Tracked &t = tracked();
    std::unique_lock<std::mutex> lock(t.mutex);
    return t.finalized.wait_for(lock, bound, [&] {
        return std::none_of(
            objects.begin(), objects.end(), [&](GObject *o) { return t.live.count(o) != 0; });
    });
}

// How long the emulation waits for umockdev's worker thread: what it waits for takes the worker
// a few iterations of its loop, which a loaded machine may delay; only a leak or a hang takes
// longer.
constexpr std::chrono::milliseconds WorkerBound {5000};

// A device node of the emulation's own, on which it meets umockdev's worker thread.
constexpr char WorkerProbeNode[] = "/dev/usbfs-worker";

// A job on the worker thread that only says that it ran; shared, because the wait for it may
// end before it runs.
struct WorkerJob {
    std::mutex mutex;
    std::condition_variable ran;
    bool done = false;
};

gboolean runWorkerJob(gpointer data)
{
    WorkerJob &job = **static_cast<std::shared_ptr<WorkerJob> *>(data);
    std::lock_guard<std::mutex> lock(job.mutex);
    job.done = true;
    job.ran.notify_all();
    return G_SOURCE_REMOVE;
}

void dropWorkerJob(gpointer data)
{
    delete static_cast<std::shared_ptr<WorkerJob> *>(data);
}

// What usbfs reports in USBDEVFS_GET_CAPABILITIES for a device on an ordinary host
// controller: libusb relies on "reap after disconnect" to collect the URBs that a departure
// ended.
constexpr uint32_t Capabilities = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION
    | USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT
    | USBDEVFS_CAP_DROP_PRIVILEGES | USBDEVFS_CAP_CONNINFO_EX;

std::string errnoName(int error)
{
    switch (error) {
    case ENODEV:
        return "ENODEV";
    case EBUSY:
        return "EBUSY";
    case EINVAL:
        return "EINVAL";
    case ENOENT:
        return "ENOENT";
    case ENODATA:
        return "ENODATA";
    default:
        return "errno " + std::to_string(error);
    }
}

std::string hex(unsigned value, int width)
{
    char text[16];
    std::snprintf(text, sizeof text, "%0*x", width, value);
    return text;
}

void writeFile(const fs::path &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("usbfs: cannot write " + path.string());
}

void writeText(const fs::path &path, const std::string &text)
{
    writeFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

// `to` as a link target relative to the folder `from`; both absolute.
std::string relativeLink(const std::string &from, const std::string &to)
{
    return fs::path(to).lexically_relative(fs::path(from)).string();
}

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

} // namespace

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

namespace {

struct Node {
    NodeId parent = -1;
    uint8_t busNumber = 0;
    uint8_t port = 0;
    Speed speed = Speed::High; // of a root hub's bus
    std::shared_ptr<vdev::UsbDeviceModel> model;
    bool hub = false;
    std::shared_ptr<Enumeration> current;
    int enumerations = 0;
    // Bumped when the device is taken off the bus, so that a return still scheduled from
    // before is dropped.
    int generation = 0;
    std::string kernelDriver;
    bool denyAccess = false;
    // The device leaves during occurrence `unplugAt` of request `unplugRequest`; 0: never.
    uint8_t unplugRequest = 0;
    int unplugAt = 0;
    std::set<uint8_t> held;
    // A hub's port folders and its ports' companions.
    std::set<uint8_t> ports;
    std::map<uint8_t, std::pair<NodeId, uint8_t>> peers;
    std::vector<Transfer> transfers;
    std::vector<std::string> calls;
};

} // namespace

struct Bus::Impl {
    GRef<UMockdevTestbed> testbed;
    std::string root;

    // Held while a model answers a request; Bus::locked takes it too.
    mutable std::mutex modelMutex;
    // Everything below. Never held while waiting for modelMutex.
    mutable std::mutex stateMutex;
    mutable std::condition_variable filesChanged;
    std::map<NodeId, Node> nodes;
    std::vector<std::shared_ptr<Enumeration>> enumerations;
    std::map<std::string, std::shared_ptr<Enumeration>> attachedAt; // node path -> handler owner
    std::map<uint8_t, uint8_t> lastAddress;
    std::vector<std::string> unexpected;
    int openFiles = 0;

    // The bus thread: URBs are answered and devices arrive and leave there, in order; every
    // change to the test bed is made there.
    std::mutex jobMutex;
    std::condition_variable jobWake;
    std::multimap<Clock::time_point, std::function<void()>> jobs;
    bool stopping = false;
    std::thread thread;

    // umockdev's worker thread runs the handlers in a GMainContext of its own (see findWorker).
    std::mutex workerMutex;
    std::condition_variable workerChanged;
    GMainContext *worker = nullptr;
    GRef<UMockdevIoctlBase> workerProbe;

    Impl();
    ~Impl();

    void loop();
    void findWorker();
    void workerFound(GMainContext *context);
    bool syncWorker();
    void detach(const std::string &devnode);
    void releaseHandlers();
    void post(std::function<void()> job, Clock::time_point due = Clock::now());
    void runOnBus(const std::function<void()> &job);

    Node &node(NodeId id);
    const Node &node(NodeId id) const;
    NodeId addNode(Node n);
    std::vector<uint8_t> pathOf(NodeId id) const;
    std::string nameOf(NodeId id) const;
    const Node &rootOf(NodeId id) const;
    uint8_t allocateAddress(uint8_t busNumber);

    // On the bus thread.
    void arrive(NodeId id);
    void depart(NodeId id);
    // The device leaves the bus (sysfs, node, uevent) but its open files do not hang up yet.
    std::shared_ptr<Enumeration> leave(NodeId id);
    void hangUp(Enumeration &e);
    void restart(NodeId id, const vdev::Reenumeration &restart);
    void runUrb(const std::shared_ptr<Enumeration> &e, const UrbPtr &urb);
    void writeSysfs(const Enumeration &e, const vdev::Identity &identity, NodeId id);
    void showPorts(NodeId hub);
    std::string portFolder(NodeId hub, uint8_t port) const; // under the test bed's root
    int answerStandard(const Enumeration &e, const vdev::ControlSetup &setup, uint8_t *data);

    // On umockdev's worker thread.
    gboolean handleIoctl(Enumeration &e, UMockdevIoctlClient *client);
    void connected(Enumeration &e, UMockdevIoctlClient *client);
    void vanished(Enumeration &e, UMockdevIoctlClient *client);

    // With stateMutex held.
    gboolean submit(Enumeration &e, Node &n, UMockdevIoctlClient *client, UMockdevIoctlData *arg);
    gboolean discard(Enumeration &e, UMockdevIoctlClient *client, UMockdevIoctlData *arg);
    gboolean interfaceCall(Enumeration &e, Node &n, UMockdevIoctlClient *client, gulong request,
        UMockdevIoctlData *arg);
    // `in`: the data of a device-to-host request; `actual`: the bytes a write delivered. Without
    // `signal` the URB is reapable but its file does not poll ready for it yet.
    void finish(Enumeration &e, UrbPtr urb, int status, const std::vector<uint8_t> &in = {},
        int actual = 0, bool signal = true);
    void deliver(Enumeration &e, Client &c, UMockdevIoctlClient *client, UrbPtr urb);
    void updateReady(Enumeration &e);
    void releaseInterface(Enumeration &e, UMockdevIoctlClient *client);
};

namespace {

void onProbeConnected(UMockdevIoctlBase *, UMockdevIoctlClient *, gpointer data)
{
    static_cast<Bus::Impl *>(data)->workerFound(g_main_context_ref_thread_default());
}

gboolean onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer data)
{
    auto *e = static_cast<Enumeration *>(data);
    return e->bus->handleIoctl(*e, client);
}

void onConnected(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer data)
{
    auto *e = static_cast<Enumeration *>(data);
    e->bus->connected(*e, client);
}

// umockdev (0.17) keeps a client object for exactly as long as its file is open, and emits no
// signal when it closes: the object's finalization is the close.
void onClientGone(gpointer data, GObject *client)
{
    auto *e = static_cast<Enumeration *>(data);
    e->bus->vanished(*e, reinterpret_cast<UMockdevIoctlClient *>(client));
}

// The value a URB's failure shows in the transfer log.
int logResult(int status, int actual)
{
    switch (status) {
    case 0:
        return actual;
    case -EPIPE:
        return vdev::Pipe;
    case -ESHUTDOWN:
    case -ENODEV:
        return vdev::NoDevice;
    case -ENOENT:
        return vdev::Interrupted;
    case -EOVERFLOW:
        return vdev::Overflow;
    default:
        return vdev::Io;
    }
}

// The URB status of a model's negative answer: a stall is -EPIPE, anything else a protocol
// error on the bus.
int urbStatus(int answer)
{
    switch (answer) {
    case vdev::Pipe:
        return -EPIPE;
    case vdev::Overflow:
        return -EOVERFLOW;
    default:
        return -EPROTO;
    }
}

template<typename T> T *resolve(UMockdevIoctlData *arg, GRef<UMockdevIoctlData> &holder)
{
    holder = GRef<UMockdevIoctlData>(umockdev_ioctl_data_resolve(arg, 0, sizeof(T), nullptr));
    return holder ? reinterpret_cast<T *>(holder->data) : nullptr;
}

} // namespace

// ----------------------------------------------------------------------------------------
// Set-up, the bus thread and the tree

Bus::Impl::Impl()
{
    // libusb opens the nodes (pseudo terminals here) without O_NOCTTY: a session leader would
    // take the first as its controlling terminal and get SIGHUP when a device leaves.
    if (::getsid(0) == ::getpid())
        std::signal(SIGHUP, SIG_IGN);
    testbed = GRef<UMockdevTestbed>(umockdev_testbed_new());
    track(G_OBJECT(testbed.get()));
    // Answered by the preload, which only sees the test bed once it exists.
    if (!umockdev_in_mock_environment())
        throw std::runtime_error("usbfs: the process does not run under umockdev's preload; "
                                 "start it with umockdev-wrapper");
    gchar *rootDir = umockdev_testbed_get_root_dir(testbed.get());
    root = rootDir;
    g_free(rootDir);
    findWorker();
    thread = std::thread([this] { loop(); });
}

Bus::Impl::~Impl()
{
    std::vector<NodeId> roots;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        for (const auto &[id, n] : nodes) {
            if (n.parent < 0)
                roots.push_back(id);
        }
    }
    runOnBus([&] {
        for (NodeId id : roots)
            depart(id);
    });
    {
        std::lock_guard<std::mutex> lock(jobMutex);
        stopping = true;
    }
    jobWake.notify_all();
    thread.join();
    for (const auto &[devnode, e] : attachedAt)
        detach(devnode);
    attachedAt.clear();
    releaseHandlers();
    // The test bed's worker thread, which calls the handlers, ends with it; only then do the
    // enumerations they point to go.
    testbed.reset();
    enumerations.clear();
    if (worker)
        g_main_context_unref(worker);
}

void Bus::Impl::findWorker()
{
    // umockdev answers the files of a node on a worker thread of the test bed, in a
    // GMainContext that it does not hand out. A file opened on a node of the emulation's own is
    // accepted there, and the node's handler takes note of the context.
    workerProbe = GRef<UMockdevIoctlBase>(umockdev_ioctl_base_new());
    track(G_OBJECT(workerProbe.get()));
    g_signal_connect(workerProbe.get(), "client-connected", G_CALLBACK(onProbeConnected), this);
    GError *error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed.get(), WorkerProbeNode, workerProbe.get(), &error)) {
        const std::string reason = error ? error->message : "unknown";
        g_clear_error(&error);
        throw std::runtime_error(
            std::string("usbfs: cannot attach to ") + WorkerProbeNode + ": " + reason);
    }
    // A file that exists, so that the open succeeds and the close ends the connection.
    const fs::path file = root + WorkerProbeNode;
    fs::create_directories(file.parent_path());
    writeText(file, "");
    const int fd = ::open(WorkerProbeNode, O_RDWR | O_NOCTTY | O_CLOEXEC);
    bool found = false;
    {
        std::unique_lock<std::mutex> lock(workerMutex);
        found = workerChanged.wait_for(lock, WorkerBound, [&] { return worker != nullptr; });
    }
    if (fd >= 0)
        ::close(fd);
    g_signal_handlers_disconnect_by_data(workerProbe.get(), this);
    // Its listener has accepted a file, so it sees the detach at once.
    umockdev_testbed_detach_ioctl(testbed.get(), WorkerProbeNode, nullptr);
    std::error_code ignored;
    fs::remove(file, ignored);
    if (!found)
        throw std::runtime_error(
            "usbfs: umockdev's worker thread accepted no file of " + std::string(WorkerProbeNode));
}

void Bus::Impl::workerFound(GMainContext *context)
{
    std::lock_guard<std::mutex> lock(workerMutex);
    if (worker)
        g_main_context_unref(context);
    else
        worker = context;
    workerChanged.notify_all();
}

bool Bus::Impl::syncWorker()
{
    // The worker runs what it is handed at one priority in the order it was handed over: once
    // this job has run, so has everything handed to it before.
    GMainContext *context = nullptr;
    {
        std::lock_guard<std::mutex> lock(workerMutex);
        context = worker;
    }
    if (!context)
        return false;
    auto job = std::make_shared<WorkerJob>();
    g_main_context_invoke_full(context, G_PRIORITY_DEFAULT, runWorkerJob,
        new std::shared_ptr<WorkerJob>(job), dropWorkerJob);
    std::unique_lock<std::mutex> lock(job->mutex);
    return job->ran.wait_for(lock, WorkerBound, [&] { return job->done; });
}

void Bus::Impl::detach(const std::string &devnode)
{
    // umockdev starts a handler's listener on the worker thread, some time after the attach;
    // a detach before that start is never seen by the listener, which then waits for files on
    // a socket nobody can reach any more and holds its handler for good. Past a bound the
    // handler leaks, and Bus::liveGObjects reports it.
    syncWorker();
    umockdev_testbed_detach_ioctl(testbed.get(), devnode.c_str(), nullptr);
}

void Bus::Impl::releaseHandlers()
{
    // A detached handler stays referenced by umockdev's worker thread until the listener that
    // the detach cancelled has run to its end there, a few iterations of the worker's loop
    // later. The test bed quits that loop without running what is still pending, and never
    // joins the thread: whatever the worker holds at that moment is never given back. So the
    // handlers are let go while the worker still runs, and the test bed goes only after them.
    std::vector<GObject *> handlers {G_OBJECT(workerProbe.get())};
    workerProbe.reset();
    for (const std::shared_ptr<Enumeration> &e : enumerations) {
        if (!e->handler)
            continue;
        GObject *handler = G_OBJECT(e->handler.get());
        // A handler that outlives the bound must not call into the enumeration once it is gone.
        g_signal_handlers_disconnect_by_data(handler, e.get());
        handlers.push_back(handler);
        e->handler.reset();
    }
    // Past the bound the references leaked; Bus::liveGObjects reports them.
    waitFinalized(handlers, WorkerBound);
}

void Bus::Impl::loop()
{
    std::unique_lock<std::mutex> lock(jobMutex);
    for (;;) {
        if (stopping)
            return;
        if (jobs.empty()) {
            jobWake.wait(lock);
            continue;
        }
        const auto due = jobs.begin()->first;
        if (due > Clock::now()) {
            jobWake.wait_until(lock, due);
            continue;
        }
        std::function<void()> job = std::move(jobs.begin()->second);
        jobs.erase(jobs.begin());
        lock.unlock();
        try {
            job();
        } catch (const std::exception &failure) {
            std::lock_guard<std::mutex> state(stateMutex);
            unexpected.push_back(failure.what());
        }
        lock.lock();
    }
}

void Bus::Impl::post(std::function<void()> job, Clock::time_point due)
{
    {
        std::lock_guard<std::mutex> lock(jobMutex);
        jobs.emplace(due, std::move(job));
    }
    jobWake.notify_all();
}

void Bus::Impl::runOnBus(const std::function<void()> &job)
{
    std::packaged_task<void()> task(job);
    std::future<void> done = task.get_future();
    post([&task] { task(); });
    done.get();
}

Node &Bus::Impl::node(NodeId id)
{
    const auto it = nodes.find(id);
    if (it == nodes.end())
        throw std::invalid_argument("usbfs: no node " + std::to_string(id));
    return it->second;
}

const Node &Bus::Impl::node(NodeId id) const
{
    return const_cast<Impl *>(this)->node(id);
}

NodeId Bus::Impl::addNode(Node n)
{
    std::lock_guard<std::mutex> lock(stateMutex);
    const NodeId id = nodes.empty() ? 1 : nodes.rbegin()->first + 1;
    nodes.emplace(id, std::move(n));
    return id;
}

std::vector<uint8_t> Bus::Impl::pathOf(NodeId id) const
{
    std::vector<uint8_t> path;
    for (const Node *n = &node(id); n->parent >= 0; n = &node(n->parent))
        path.insert(path.begin(), n->port);
    return path;
}

std::string Bus::Impl::nameOf(NodeId id) const
{
    const Node &n = node(id);
    if (n.parent < 0)
        return "usb" + std::to_string(n.busNumber);
    std::string name = std::to_string(n.busNumber) + "-";
    const std::vector<uint8_t> path = pathOf(id);
    for (size_t i = 0; i < path.size(); ++i)
        name += (i == 0 ? "" : ".") + std::to_string(path[i]);
    return name;
}

const Node &Bus::Impl::rootOf(NodeId id) const
{
    const Node *n = &node(id);
    while (n->parent >= 0)
        n = &node(n->parent);
    return *n;
}

uint8_t Bus::Impl::allocateAddress(uint8_t busNumber)
{
    // Like the kernel: the next address after the last one given, wrapping past 127.
    uint8_t candidate = lastAddress.count(busNumber) ? lastAddress[busNumber] : 1;
    for (int tries = 0; tries < 126; ++tries) {
        candidate = candidate >= 127 ? 2 : uint8_t(candidate + 1);
        const bool taken = std::any_of(nodes.begin(), nodes.end(), [&](const auto &entry) {
            const auto &e = entry.second.current;
            return e && e->busNumber == busNumber && e->address == candidate;
        });
        if (taken)
            continue;
        lastAddress[busNumber] = candidate;
        return candidate;
    }
    throw std::runtime_error("usbfs: no free address on bus " + std::to_string(busNumber));
}

std::string Bus::Impl::portFolder(NodeId hub, uint8_t port) const
{
    const Node &h = node(hub);
    const std::string hubName = nameOf(hub);
    return h.current->syspath + "/" + h.current->interfaceName + "/" + hubName + "-port"
        + std::to_string(port);
}

void Bus::Impl::showPorts(NodeId hub)
{
    std::vector<std::pair<std::string, std::string>> links; // folder, peer folder
    std::vector<std::string> folders;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        const Node &h = node(hub);
        if (!h.current)
            return;
        for (uint8_t port : h.ports)
            folders.push_back(portFolder(hub, port));
        for (const auto &[port, peer] : h.peers) {
            if (!node(peer.first).current)
                continue;
            const std::string mine = portFolder(hub, port);
            const std::string theirs = portFolder(peer.first, peer.second);
            folders.push_back(mine);
            folders.push_back(theirs);
            links.emplace_back(mine, theirs);
            links.emplace_back(theirs, mine);
        }
    }
    for (const std::string &folder : folders) {
        fs::create_directories(root + folder);
        writeText(root + folder + "/connect_type", "hotplug\n");
    }
    for (const auto &[folder, peer] : links) {
        const fs::path link = root + folder + "/peer";
        std::error_code ignored;
        fs::remove(link, ignored);
        fs::create_symlink(relativeLink(folder, peer), link);
    }
}

void Bus::Impl::writeSysfs(const Enumeration &e, const vdev::Identity &identity, NodeId id)
{
    const fs::path dir = root + e.syspath;
    fs::create_directories(dir);
    std::vector<uint8_t> descriptors = e.device;
    descriptors.insert(descriptors.end(), e.configuration.begin(), e.configuration.end());
    // What libusb reads of a device, written before the "add" uevent announces it.
    writeFile(dir / "descriptors", descriptors);
    writeText(dir / "busnum", std::to_string(e.busNumber) + "\n");
    writeText(dir / "devnum", std::to_string(e.address) + "\n");
    writeText(dir / "speed", e.superSpeed ? "5000\n" : "480\n");
    writeText(dir / "version", e.superSpeed ? " 3.20\n" : " 2.10\n");
    writeText(dir / "idVendor", hex(identity.vendorId, 4) + "\n");
    writeText(dir / "idProduct", hex(identity.productId, 4) + "\n");
    writeText(dir / "bcdDevice", hex(identity.bcdDevice, 4) + "\n");
    writeText(dir / "bDeviceClass", hex(identity.deviceClass, 2) + "\n");
    writeText(dir / "bNumConfigurations", "1\n");
    writeText(dir / "bConfigurationValue", "1\n");
    writeText(dir / "bNumInterfaces", " 1\n");
    std::string devpath = "0";
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        const Node &n = node(id);
        if (n.parent >= 0) {
            devpath = e.name.substr(e.name.find('-') + 1);
            // The device's own link to the port it is plugged into.
            const fs::path port = root + portFolder(n.parent, n.port);
            fs::create_directories(port);
            fs::create_symlink(
                relativeLink(e.syspath, port.string().substr(root.size())), dir / "port");
        }
        if (n.hub)
            writeText(
                dir / "maxchild", std::to_string(std::max<int>(4, int(n.ports.size()))) + "\n");
    }
    writeText(dir / "devpath", devpath + "\n");
    const fs::path interface = dir / e.interfaceName;
    fs::create_directories(interface);
    writeText(interface / "bInterfaceNumber", "00\n");
    writeText(interface / "bAlternateSetting", " 0\n");
    writeText(interface / "bInterfaceClass", identity.deviceClass == 0x09 ? "09\n" : "ff\n");
}

void Bus::Impl::arrive(NodeId id)
{
    std::shared_ptr<vdev::UsbDeviceModel> model;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        model = node(id).model;
    }
    vdev::Identity identity;
    bool hub = false;
    {
        std::lock_guard<std::mutex> lock(modelMutex);
        identity = model->identity();
        hub = model->isHub();
    }
    auto e = std::make_shared<Enumeration>();
    bool denied = false;
    std::string kernelDriver;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        Node &n = node(id);
        if (n.current)
            return;
        const bool root = n.parent < 0;
        if (!root && !node(n.parent).current) {
            unexpected.push_back(nameOf(id) + ": cannot arrive behind a hub that is away");
            return;
        }
        e->bus = this;
        e->node = id;
        e->model = model;
        e->busNumber = n.busNumber;
        e->superSpeed = rootOf(id).speed == Speed::Super;
        e->address = root ? 1 : allocateAddress(n.busNumber);
        e->name = nameOf(id);
        e->syspath
            = root ? "/sys/devices/" + e->name : node(n.parent).current->syspath + "/" + e->name;
        e->interfaceName = (root ? std::to_string(n.busNumber) + "-0" : e->name) + ":1.0";
        char devnode[32];
        std::snprintf(devnode, sizeof devnode, "/dev/bus/usb/%03u/%03u", e->busNumber, e->address);
        e->devnode = devnode;
        e->device = deviceDescriptor(identity, e->superSpeed);
        e->configuration = configurationDescriptor(hub, e->superSpeed);
        if (!root)
            node(n.parent).ports.insert(n.port);
        denied = n.denyAccess;
        kernelDriver = n.kernelDriver;
        enumerations.push_back(e);
    }

    e->signal = std::make_unique<PollSignal>();
    if (denied)
        e->signal->denyAccess();
    e->handler = GRef<UMockdevIoctlBase>(umockdev_ioctl_base_new());
    track(G_OBJECT(e->handler.get()));
    g_signal_connect(e->handler.get(), "handle-ioctl", G_CALLBACK(onIoctl), e.get());
    g_signal_connect(e->handler.get(), "client-connected", G_CALLBACK(onConnected), e.get());
    // umockdev's preload connects a file to its node's handler even when the open itself
    // failed, and never closes that connection: a node that nobody may open gets no handler,
    // so such a connection cannot count as an open file.
    GError *error = nullptr;
    if (!denied) {
        if (!umockdev_testbed_attach_ioctl(
                testbed.get(), e->devnode.c_str(), e->handler.get(), &error)) {
            const std::string reason = error ? error->message : "unknown";
            g_clear_error(&error);
            throw std::runtime_error("usbfs: cannot attach to " + e->devnode + ": " + reason);
        }
        attachedAt[e->devnode] = e;
    }

    writeSysfs(*e, identity, id);
    const fs::path nodeFile = root + e->devnode;
    fs::create_directories(nodeFile.parent_path());
    std::error_code ignored;
    fs::remove(nodeFile, ignored);
    fs::create_symlink(e->signal->path(), nodeFile);
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        Node &n = node(id);
        e->present = true;
        e->driver = kernelDriver;
        n.current = e;
        ++n.enumerations;
    }
    if (hub)
        showPorts(id);

    // umockdev writes the uevent file from these properties and sends the "add" uevent.
    std::string record = "P: " + e->syspath.substr(4) + "\n";
    const auto property = [&](const std::string &key, const std::string &value) {
        record += "E: " + key + "=" + value + "\n";
    };
    char number[8];
    property("SUBSYSTEM", "usb");
    property("DEVTYPE", "usb_device");
    property("DRIVER", "usb");
    property("DEVNAME", e->devnode);
    property("PRODUCT",
        hex(identity.vendorId, 1) + "/" + hex(identity.productId, 1) + "/"
            + hex(identity.bcdDevice, 1));
    std::snprintf(number, sizeof number, "%03u", e->busNumber);
    property("BUSNUM", number);
    std::snprintf(number, sizeof number, "%03u", e->address);
    property("DEVNUM", number);
    property("MAJOR", "189");
    property("MINOR", std::to_string((e->busNumber - 1) * 128 + e->address - 1));
    error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed.get(), record.c_str(), &error)) {
        const std::string reason = error ? error->message : "unknown";
        g_clear_error(&error);
        throw std::runtime_error("usbfs: cannot add " + e->syspath + ": " + reason);
    }
}

void Bus::Impl::depart(NodeId id)
{
    if (const std::shared_ptr<Enumeration> e = leave(id))
        hangUp(*e);
}

std::shared_ptr<Enumeration> Bus::Impl::leave(NodeId id)
{
    std::vector<NodeId> children;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        for (const auto &[child, n] : nodes) {
            if (n.parent == id && n.current)
                children.push_back(child);
        }
    }
    for (NodeId child : children)
        depart(child);

    std::shared_ptr<Enumeration> e;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        Node &n = node(id);
        e = std::move(n.current);
        n.current.reset();
        if (!e)
            return nullptr;
        e->present = false;
        e->driver.clear();
        // The host controller gives back every URB in flight with -ESHUTDOWN, and usbfs keeps
        // them for reaping after the disconnect.
        for (auto &[client, c] : e->clients) {
            for (const UrbPtr &urb : std::vector<UrbPtr>(c.inFlight))
                finish(*e, urb, -ESHUTDOWN, {}, 0, false);
            if (c.waitingReap && c.reapable.empty()) {
                umockdev_ioctl_client_complete(c.waitingReap.get(), -1, ENODEV);
                c.waitingReap.reset();
            }
        }
    }
    std::error_code ignored;
    fs::remove(root + e->devnode, ignored);
    // Files open on the node keep their connection to the handler; a later open of the
    // vanished node (which fails, and which the preload connects all the same) finds none.
    if (attachedAt.erase(e->devnode))
        detach(e->devnode);
    umockdev_testbed_uevent(testbed.get(), e->syspath.c_str(), "remove");
    umockdev_testbed_remove_device(testbed.get(), e->syspath.c_str());
    return e;
}

void Bus::Impl::hangUp(Enumeration &e)
{
    std::lock_guard<std::mutex> lock(stateMutex);
    // Every open file now polls POLLERR|POLLHUP; libusb reaps what is left and gives up on
    // the device.
    e.signal->hangUp();
}

void Bus::Impl::restart(NodeId id, const vdev::Reenumeration &restart)
{
    const std::shared_ptr<Enumeration> old = leave(id);
    if (!old)
        return;
    if (restart.arrival == vdev::Arrival::Never) {
        hangUp(*old);
        return;
    }
    int generation = 0;
    NodeId hub = -1;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        Node &n = node(id);
        switch (restart.arrival) {
        case vdev::Arrival::OtherPort:
            ++n.port;
            break;
        case vdev::Arrival::CompanionPort: {
            const auto &peers = node(n.parent).peers;
            const auto peer = peers.find(n.port);
            if (peer != peers.end()) {
                n.parent = peer->second.first;
                n.port = peer->second.second;
                n.busNumber = node(n.parent).busNumber;
            }
            break;
        }
        case vdev::Arrival::SamePort:
        case vdev::Arrival::Never:
            break;
        }
        node(n.parent).ports.insert(n.port);
        generation = n.generation;
        hub = n.parent;
    }
    showPorts(hub);
    const auto back = [this, id, generation] {
        bool current = false;
        {
            std::lock_guard<std::mutex> lock(stateMutex);
            current = node(id).generation == generation;
        }
        if (current)
            arrive(id);
    };
    if (restart.delay.count() > 0) {
        hangUp(*old);
        post(back, Clock::now() + restart.delay);
        return;
    }
    // Back at once: the old files hang up only now, so by the time the host learns that the
    // request which restarted the device has completed, the device has left and come back
    // (both uevents are queued), whatever the threads' timing.
    back();
    hangUp(*old);
}

int Bus::Impl::answerStandard(const Enumeration &e, const vdev::ControlSetup &setup, uint8_t *data)
{
    const uint8_t type = uint8_t(setup.value >> 8);
    const uint8_t index = uint8_t(setup.value);
    std::vector<uint8_t> answer;
    switch (type) {
    case USB_DT_DEVICE:
        answer = e.device;
        break;
    case USB_DT_CONFIG:
        if (index != 0)
            return vdev::Pipe;
        answer = e.configuration;
        break;
    case USB_DT_STRING: {
        if (index == 0) {
            answer = languageDescriptor();
            break;
        }
        const std::optional<std::string> text = e.model->stringDescriptor(index);
        if (!text)
            return vdev::Pipe;
        answer = stringDescriptor(*text);
        break;
    }
    default:
        return vdev::Pipe;
    }
    const size_t count = std::min<size_t>(answer.size(), setup.length);
    std::copy(answer.begin(), answer.begin() + long(count), data);
    return int(count);
}

void Bus::Impl::runUrb(const std::shared_ptr<Enumeration> &e, const UrbPtr &urb)
{
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        if (urb->stage != Urb::Stage::Queued || !e->present)
            return;
        urb->stage = Urb::Stage::Running;
    }
    const vdev::ControlSetup setup = urb->setup;
    std::vector<uint8_t> data = urb->sent;
    data.resize(setup.length);
    int answer = 0;
    std::optional<vdev::Reenumeration> reenumeration;
    {
        std::lock_guard<std::mutex> lock(modelMutex);
        const bool getDescriptor
            = setup.requestType == USB_DIR_IN && setup.request == USB_REQ_GET_DESCRIPTOR;
        if (getDescriptor) {
            answer = answerStandard(*e, setup, data.data());
        } else {
            answer = e->model->control(setup, data.data());
            reenumeration = e->model->takeReenumeration();
        }
    }
    bool gone = false;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        if (urb->stage != Urb::Stage::Running)
            return;
        // A request after which the device restarts completes before it leaves; the file
        // signals it only with the departure's hangup (see restart).
        const bool signal = !reenumeration;
        if (urb->discarded) {
            finish(*e, urb, -ENOENT, {}, 0, signal);
        } else if (answer == vdev::Timeout) {
            // The device never answers; the host's timeout discards the URB.
            urb->stage = Urb::Stage::Held;
        } else if (answer == vdev::NoDevice) {
            gone = true;
        } else if (answer < 0) {
            finish(*e, urb, urbStatus(answer), {}, 0, signal);
        } else if (setup.deviceToHost()) {
            data.resize(std::min<size_t>(size_t(answer), setup.length));
            finish(*e, urb, 0, data, 0, signal);
        } else {
            finish(*e, urb, 0, {}, std::min(answer, int(setup.length)), signal);
        }
    }
    if (gone)
        depart(e->node);
    else if (reenumeration)
        restart(e->node, *reenumeration);
}

// ----------------------------------------------------------------------------------------
// usbfs, on umockdev's worker thread

void Bus::Impl::connected(Enumeration &e, UMockdevIoctlClient *client)
{
    g_object_weak_ref(G_OBJECT(client), onClientGone, &e);
    std::lock_guard<std::mutex> lock(stateMutex);
    e.clients[client];
    node(e.node).calls.push_back("open");
    ++openFiles;
    filesChanged.notify_all();
}

void Bus::Impl::vanished(Enumeration &e, UMockdevIoctlClient *client)
{
    std::lock_guard<std::mutex> lock(stateMutex);
    const auto it = e.clients.find(client);
    if (it == e.clients.end())
        return;
    // Closing the file releases its interfaces; a kernel driver that was detached stays off
    // until somebody asks for it.
    releaseInterface(e, client);
    for (const UrbPtr &urb : it->second.inFlight)
        urb->stage = Urb::Stage::Done;
    e.clients.erase(it);
    node(e.node).calls.push_back("close");
    --openFiles;
    updateReady(e);
    filesChanged.notify_all();
}

void Bus::Impl::releaseInterface(Enumeration &e, UMockdevIoctlClient *client)
{
    Client &c = e.clients[client];
    if (c.claimed & 1u) {
        c.claimed &= ~1u;
        e.driver.clear();
    }
}

void Bus::Impl::updateReady(Enumeration &e)
{
    bool ready = false;
    for (const auto &[client, c] : e.clients)
        ready = ready || !c.reapable.empty();
    e.signal->setReady(ready);
}

void Bus::Impl::finish(
    Enumeration &e, UrbPtr urb, int status, const std::vector<uint8_t> &in, int actual, bool signal)
{
    if (urb->setup.deviceToHost())
        actual = int(in.size());
    auto *u = reinterpret_cast<usbdevfs_urb *>(urb->urb->data);
    u->status = status;
    u->actual_length = actual;
    if (!in.empty())
        std::copy(in.begin(), in.end(), urb->buffer->data + 8);
    urb->stage = Urb::Stage::Done;

    Transfer t;
    t.requestType = urb->setup.requestType;
    t.request = urb->setup.request;
    t.value = urb->setup.value;
    t.index = urb->setup.index;
    t.length = urb->setup.length;
    t.data = urb->setup.deviceToHost() ? in : urb->sent;
    t.result = logResult(status, actual);
    node(e.node).transfers.push_back(std::move(t));

    const auto it = e.clients.find(urb->client);
    if (it == e.clients.end())
        return; // its file was closed meanwhile
    Client &c = it->second;
    c.inFlight.erase(std::remove(c.inFlight.begin(), c.inFlight.end(), urb), c.inFlight.end());
    if (c.waitingReap) {
        GRef<UMockdevIoctlClient> waiting = std::move(c.waitingReap);
        c.waitingReap.reset();
        deliver(e, c, waiting.get(), urb);
        return;
    }
    c.reapable.push_back(urb);
    if (signal)
        updateReady(e);
}

void Bus::Impl::deliver(Enumeration &e, Client &c, UMockdevIoctlClient *client, UrbPtr urb)
{
    c.reapable.erase(std::remove(c.reapable.begin(), c.reapable.end(), urb), c.reapable.end());
    GRef<UMockdevIoctlData> slot(umockdev_ioctl_data_resolve(
        umockdev_ioctl_client_get_arg(client), 0, sizeof(void *), nullptr));
    umockdev_ioctl_data_set_ptr(slot.get(), 0, urb->urb.get());
    umockdev_ioctl_client_complete(client, 0, 0);
    updateReady(e);
}

gboolean Bus::Impl::handleIoctl(Enumeration &e, UMockdevIoctlClient *client)
{
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard<std::mutex> lock(stateMutex);
    Node &n = node(e.node);
    Client &c = e.clients[client];

    // Reaping is allowed after a disconnect, so that the URBs it ended can be collected.
    if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
        if (!c.reapable.empty()) {
            deliver(e, c, client, c.reapable.front());
        } else if (!e.present) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
        } else if (request == USBDEVFS_REAPURBNDELAY) {
            umockdev_ioctl_client_complete(client, -1, EAGAIN);
        } else {
            c.waitingReap = GRef<UMockdevIoctlClient>::borrow(client);
        }
        return TRUE;
    }
    if (!e.present) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }

    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        GRef<UMockdevIoctlData> holder;
        if (auto *caps = resolve<uint32_t>(arg, holder))
            *caps = Capabilities;
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }
    case USBDEVFS_SUBMITURB:
        return submit(e, n, client, arg);
    case USBDEVFS_DISCARDURB:
        return discard(e, client, arg);
    case USBDEVFS_GET_SPEED:
        umockdev_ioctl_client_complete(client, e.superSpeed ? USB_SPEED_SUPER : USB_SPEED_HIGH, 0);
        return TRUE;
    case USBDEVFS_CONNECTINFO: {
        GRef<UMockdevIoctlData> holder;
        if (auto *info = resolve<usbdevfs_connectinfo>(arg, holder)) {
            info->devnum = e.address;
            info->slow = 0;
        }
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE:
    case USBDEVFS_GETDRIVER:
    case USBDEVFS_IOCTL:
    case USBDEVFS_DISCONNECT_CLAIM:
        return interfaceCall(e, n, client, request, arg);
    default:
        break;
    }
    // The size of the caller's struct is part of the request code.
    if (_IOC_TYPE(request) == 'U' && _IOC_NR(request) == _IOC_NR(USBDEVFS_CONNINFO_EX(0))) {
        usbdevfs_conninfo_ex info {};
        info.size = sizeof info;
        info.busnum = e.busNumber;
        info.devnum = e.address;
        info.speed = e.superSpeed ? USB_SPEED_SUPER : USB_SPEED_HIGH;
        const std::vector<uint8_t> path = pathOf(e.node);
        info.num_ports = uint8_t(std::min<size_t>(path.size(), sizeof info.ports));
        std::copy(path.begin(), path.begin() + info.num_ports, info.ports);
        const size_t size = std::min<size_t>(_IOC_SIZE(request), sizeof info);
        GRef<UMockdevIoctlData> holder(umockdev_ioctl_data_resolve(arg, 0, size, nullptr));
        if (holder)
            std::memcpy(holder->data, &info, size);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }
    unexpected.push_back(e.name + ": ioctl 0x" + hex(unsigned(request), 8));
    umockdev_ioctl_client_complete(client, -1, ENOTTY);
    return TRUE;
}

gboolean Bus::Impl::submit(
    Enumeration &e, Node &n, UMockdevIoctlClient *client, UMockdevIoctlData *arg)
{
    auto urb = std::make_shared<Urb>();
    auto *u = resolve<usbdevfs_urb>(arg, urb->urb);
    const auto refuse = [&](const std::string &why) {
        unexpected.push_back(e.name + ": " + why);
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return TRUE;
    };
    if (!u)
        return refuse("URB not readable");
    if (u->type != USBDEVFS_URB_TYPE_CONTROL || (u->endpoint & 0x7F) != 0)
        return refuse("URB of type " + std::to_string(u->type) + " on endpoint "
            + hex(u->endpoint, 2) + ": only control requests are emulated");
    if (u->buffer_length < 8)
        return refuse("control URB without its setup packet");
    urb->buffer = GRef<UMockdevIoctlData>(umockdev_ioctl_data_resolve(
        urb->urb.get(), offsetof(usbdevfs_urb, buffer), size_t(u->buffer_length), nullptr));
    if (!urb->buffer)
        return refuse("URB buffer not readable");
    const uint8_t *bytes = urb->buffer->data;
    urb->setup.requestType = bytes[0];
    urb->setup.request = bytes[1];
    urb->setup.value = uint16_t(bytes[2] | bytes[3] << 8);
    urb->setup.index = uint16_t(bytes[4] | bytes[5] << 8);
    urb->setup.length = uint16_t(bytes[6] | bytes[7] << 8);
    // usbfs refuses a buffer too short for the data stage the setup packet announces.
    if (int(urb->setup.length) + 8 > u->buffer_length) {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return TRUE;
    }
    if (!urb->setup.deviceToHost())
        urb->sent.assign(bytes + 8, bytes + 8 + urb->setup.length);
    urb->client = client;
    urb->address = urb->urb->client_addr;
    e.clients[client].inFlight.push_back(urb);
    n.calls.push_back("urb " + hex(urb->setup.requestType, 2) + " " + hex(urb->setup.request, 2));

    // Completed first: umockdev syncs the URB back to the client here, and the device may only
    // write its answer into it afterwards.
    umockdev_ioctl_client_complete(client, 0, 0);
    if (n.unplugAt > 0 && urb->setup.request == n.unplugRequest && --n.unplugAt == 0) {
        const NodeId id = e.node;
        post([this, id] { depart(id); });
    } else if (n.held.count(urb->setup.request)) {
        urb->stage = Urb::Stage::Held;
    } else {
        post([this, self = e.shared_from_this(), urb] { runUrb(self, urb); });
    }
    return TRUE;
}

gboolean Bus::Impl::discard(Enumeration &e, UMockdevIoctlClient *client, UMockdevIoctlData *arg)
{
    Client &c = e.clients[client];
    gulong address = 0;
    std::memcpy(&address, arg->data, std::min<size_t>(sizeof address, size_t(arg->data_len)));
    for (const UrbPtr &urb : c.inFlight) {
        if (urb->address != address)
            continue;
        // usbfs kills the URB; it completes with -ENOENT and waits to be reaped.
        if (urb->stage == Urb::Stage::Running)
            urb->discarded = true;
        else
            finish(e, urb, -ENOENT);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }
    umockdev_ioctl_client_complete(client, -1, EINVAL);
    return TRUE;
}

gboolean Bus::Impl::interfaceCall(
    Enumeration &e, Node &n, UMockdevIoctlClient *client, gulong request, UMockdevIoctlData *arg)
{
    Client &c = e.clients[client];
    const auto reply = [&](const std::string &call, long result, int error) {
        n.calls.push_back(error ? call + " -> " + errnoName(error) : call);
        umockdev_ioctl_client_complete(client, error ? -1 : result, error);
        return TRUE;
    };
    // Claiming as usbfs does: an interface with a driver (another program's claim included)
    // is busy; the file's own claim is not repeated.
    const auto claim = [&](unsigned interface, const std::string &call) {
        if (interface != 0)
            return reply(call, -1, ENOENT);
        if (c.claimed & 1u)
            return reply(call, 0, 0);
        if (!e.driver.empty())
            return reply(call, -1, EBUSY);
        e.driver = "usbfs";
        c.claimed |= 1u;
        return reply(call, 0, 0);
    };
    // A driver leaves the interface; a program's claim is taken from it too.
    const auto unbind = [&] {
        if (e.driver == "usbfs") {
            for (auto &[other, state] : e.clients)
                state.claimed &= ~1u;
        }
        e.driver.clear();
    };
    GRef<UMockdevIoctlData> holder;
    const auto unreadable = [&] {
        unexpected.push_back(
            e.name + ": argument of ioctl 0x" + hex(unsigned(request), 8) + " not readable");
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return TRUE;
    };
    switch (request) {
    case USBDEVFS_CLAIMINTERFACE: {
        const auto *interface = resolve<unsigned>(arg, holder);
        if (!interface)
            return unreadable();
        return claim(*interface, "claim " + std::to_string(*interface));
    }
    case USBDEVFS_RELEASEINTERFACE: {
        const auto *interface = resolve<unsigned>(arg, holder);
        if (!interface)
            return unreadable();
        const std::string call = "release " + std::to_string(*interface);
        if (*interface != 0 || !(c.claimed & 1u))
            return reply(call, -1, EINVAL);
        releaseInterface(e, client);
        return reply(call, 0, 0);
    }
    case USBDEVFS_GETDRIVER: {
        auto *query = resolve<usbdevfs_getdriver>(arg, holder);
        if (!query)
            return unreadable();
        const std::string call = "getdriver " + std::to_string(query->interface);
        if (query->interface != 0 || e.driver.empty())
            return reply(call, -1, ENODATA);
        std::snprintf(query->driver, sizeof query->driver, "%s", e.driver.c_str());
        return reply(call + ": " + e.driver, 0, 0);
    }
    case USBDEVFS_IOCTL: {
        const auto *command = resolve<usbdevfs_ioctl>(arg, holder);
        if (!command)
            return unreadable();
        const std::string interface = std::to_string(command->ifno);
        if (command->ioctl_code == USBDEVFS_DISCONNECT) {
            const std::string call = "disconnect " + interface;
            if (command->ifno != 0)
                return reply(call, -1, EINVAL);
            if (e.driver.empty())
                return reply(call, -1, ENODATA);
            const std::string was = e.driver;
            unbind();
            return reply(call + ": " + was, 0, 0);
        }
        if (command->ioctl_code == USBDEVFS_CONNECT) {
            const std::string call = "connect " + interface;
            if (command->ifno != 0)
                return reply(call, -1, EINVAL);
            if (!e.driver.empty())
                return reply(call, -1, EBUSY);
            // The kernel's driver probe: 1 when a driver took the interface, 0 when none
            // matched.
            if (n.kernelDriver.empty())
                return reply(call + ": none", 0, 0);
            e.driver = n.kernelDriver;
            return reply(call + ": " + e.driver, 1, 0);
        }
        unexpected.push_back(
            e.name + ": USBDEVFS_IOCTL code 0x" + hex(unsigned(command->ioctl_code), 8));
        return reply("ioctl " + interface, -1, ENOTTY);
    }
    case USBDEVFS_DISCONNECT_CLAIM: {
        const auto *query = resolve<usbdevfs_disconnect_claim>(arg, holder);
        if (!query)
            return unreadable();
        const std::string call = "disconnect-claim " + std::to_string(query->interface);
        if (query->interface != 0)
            return reply(call, -1, EINVAL);
        if (!e.driver.empty() && !(c.claimed & 1u)) {
            const bool named
                = std::strncmp(query->driver, e.driver.c_str(), sizeof query->driver) == 0;
            if ((query->flags & USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER) && !named)
                return reply(call, -1, EBUSY);
            if ((query->flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER) && named)
                return reply(call, -1, EBUSY);
            unbind();
        }
        return claim(0, call);
    }
    default:
        return reply("?", -1, ENOTTY);
    }
}

// ----------------------------------------------------------------------------------------
// Bus

Bus::Bus()
    : impl_(std::make_unique<Impl>())
{
}

Bus::~Bus() = default;

NodeId Bus::addRootHub(uint8_t busNumber, Speed speed)
{
    vdev::Identity identity = vdev::HubModel::rootHubIdentity();
    identity.productId = speed == Speed::Super ? 0x0003 : 0x0002;
    Node n;
    n.busNumber = busNumber;
    n.speed = speed;
    n.model = std::make_shared<vdev::HubModel>(identity);
    n.hub = true;
    n.kernelDriver = "hub";
    const NodeId id = impl_->addNode(std::move(n));
    impl_->runOnBus([&] { impl_->arrive(id); });
    return id;
}

NodeId Bus::addHub(NodeId parentHub, uint8_t port)
{
    return plug(
        parentHub, port, std::make_shared<vdev::HubModel>(vdev::HubModel::externalHubIdentity()));
}

NodeId Bus::plug(NodeId parentHub, uint8_t port, std::shared_ptr<vdev::UsbDeviceModel> model)
{
    Node n;
    {
        std::lock_guard<std::mutex> lock(impl_->stateMutex);
        const Node &hub = impl_->node(parentHub);
        if (!hub.hub)
            throw std::invalid_argument("usbfs: devices are plugged into hubs");
        n.busNumber = hub.busNumber;
    }
    n.parent = parentHub;
    n.port = port;
    n.hub = model->isHub();
    if (n.hub)
        n.kernelDriver = "hub";
    n.model = std::move(model);
    const NodeId id = impl_->addNode(std::move(n));
    impl_->runOnBus([&] { impl_->arrive(id); });
    return id;
}

void Bus::linkPeerPorts(NodeId hub2, uint8_t port2, NodeId hub3, uint8_t port3)
{
    {
        std::lock_guard<std::mutex> lock(impl_->stateMutex);
        Node &a = impl_->node(hub2);
        Node &b = impl_->node(hub3);
        if (!a.hub || !b.hub)
            throw std::invalid_argument("usbfs: only hub ports have companions");
        a.peers[port2] = {hub3, port3};
        b.peers[port3] = {hub2, port2};
        a.ports.insert(port2);
        b.ports.insert(port3);
    }
    impl_->runOnBus([&] {
        impl_->showPorts(hub2);
        impl_->showPorts(hub3);
    });
}

void Bus::linkPeerHubs(NodeId hub2, NodeId hub3, uint8_t ports)
{
    for (uint8_t port = 1; port <= ports; ++port)
        linkPeerPorts(hub2, port, hub3, port);
}

void Bus::unplug(NodeId node)
{
    {
        std::lock_guard<std::mutex> lock(impl_->stateMutex);
        ++impl_->node(node).generation;
    }
    impl_->runOnBus([&] { impl_->depart(node); });
}

void Bus::replug(NodeId node)
{
    unplug(node);
    impl_->runOnBus([&] { impl_->arrive(node); });
}

bool Bus::attached(NodeId node) const
{
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    return bool(impl_->node(node).current);
}

uint8_t Bus::address(NodeId node) const
{
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    const auto &e = impl_->node(node).current;
    return e ? e->address : 0;
}

uint8_t Bus::busNumber(NodeId node) const
{
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    return impl_->node(node).busNumber;
}

std::vector<uint8_t> Bus::portPath(NodeId node) const
{
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    return impl_->pathOf(node);
}

std::string Bus::name(NodeId node) const
{
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    return impl_->nameOf(node);
}

int Bus::enumerations(NodeId node) const
{
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    return impl_->node(node).enumerations;
}

void Bus::setKernelDriver(NodeId node, const std::string &driver)
{
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    Node &n = impl_->node(node);
    n.kernelDriver = driver;
    // It binds at once when the interface is free, as it would have at the enumeration.
    if (n.current && n.current->driver.empty())
        n.current->driver = driver;
}

void Bus::unplugDuring(NodeId node, uint8_t request, int occurrence)
{
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    Node &n = impl_->node(node);
    n.unplugRequest = request;
    n.unplugAt = occurrence;
}

void Bus::denyAccess(NodeId node)
{
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    impl_->node(node).denyAccess = true;
}

void Bus::holdRequests(NodeId node, uint8_t request)
{
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    impl_->node(node).held.insert(request);
}

std::string Bus::boundDriver(NodeId node) const
{
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    const auto &e = impl_->node(node).current;
    return e ? e->driver : std::string();
}

std::vector<Transfer> Bus::transfers(NodeId node) const
{
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    return impl_->node(node).transfers;
}

std::vector<std::string> Bus::calls(NodeId node) const
{
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    return impl_->node(node).calls;
}

void Bus::clearLogs()
{
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    for (auto &[id, n] : impl_->nodes) {
        n.transfers.clear();
        n.calls.clear();
    }
}

int Bus::openFiles() const
{
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    return impl_->openFiles;
}

bool Bus::waitForClosedFiles(std::chrono::milliseconds bound) const
{
    std::unique_lock<std::mutex> lock(impl_->stateMutex);
    return impl_->filesChanged.wait_for(lock, bound, [&] { return impl_->openFiles == 0; });
}

std::vector<std::string> Bus::unexpected() const
{
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    return impl_->unexpected;
}

void Bus::locked(const std::function<void()> &inspect) const
{
    std::lock_guard<std::mutex> lock(impl_->modelMutex);
    inspect();
}

std::string Bus::rootDirectory() const
{
    return impl_->root;
}

int Bus::liveGObjects()
{
    Tracked &t = tracked();
    std::lock_guard<std::mutex> lock(t.mutex);
    return int(t.live.size());
}

} // namespace usbfs
