// Enumeration: a device's arrival (address, handler, node, sysfs, uevent), its departure, and
// its restart onto the port vcore::Tree picks, on the bus thread.

#include "busimpl.h"
#include "descriptors.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

namespace usbfs {

namespace {

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

} // namespace

void Bus::Impl::arrive(NodeId id)
{
    std::shared_ptr<vdev::UsbDeviceModel> model;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        model = tree.at(id).model;
    }
    vdev::Identity identity;
    {
        std::lock_guard<std::mutex> lock(modelMutex);
        identity = model->identity();
    }
    auto e = std::make_shared<Enumeration>();
    bool denied = false;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        const vcore::Place &p = tree.at(id);
        if (at(id).current)
            return;
        const bool root = p.parent < 0;
        if (!root && !at(p.parent).current) {
            unexpected.push_back(tree.nameOf(id) + ": cannot arrive behind a hub that is away");
            return;
        }
        e->bus = this;
        e->node = id;
        e->model = model;
        e->busNumber = p.busNumber;
        e->superSpeed = at(tree.rootOf(id).id).speed == Speed::Super;
        e->address = tree.enumerate(id);
        e->name = tree.nameOf(id);
        e->syspath
            = root ? "/sys/devices/" + e->name : at(p.parent).current->syspath + "/" + e->name;
        e->interfaceName = (root ? std::to_string(p.busNumber) + "-0" : e->name) + ":1.0";
        char devnode[32];
        std::snprintf(devnode, sizeof devnode, "/dev/bus/usb/%03u/%03u", e->busNumber, e->address);
        e->devnode = devnode;
        e->device = vcore::deviceDescriptor(identity, e->superSpeed);
        e->configuration = vcore::configurationDescriptor(p.hub, e->superSpeed);
        denied = p.faults.openDenied();
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
    if (!denied) {
        GError *error = nullptr;
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
    bool hub = false;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        e->present = true;
        e->driver = tree.at(id).faults.kernelDriver;
        hub = tree.at(id).hub;
        at(id).current = e;
    }
    if (hub)
        showPorts(id);
    publish(*e, identity);
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
        for (NodeId child : tree.children(id)) {
            if (at(child).current)
                children.push_back(child);
        }
    }
    for (NodeId child : children)
        depart(child);

    std::shared_ptr<Enumeration> e;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        e = std::move(at(id).current);
        at(id).current.reset();
        if (!e)
            return nullptr;
        tree.leave(id);
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
    int generation = 0;
    NodeId hub = -1;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        if (tree.placeForReturn(id, restart.arrival)) {
            generation = tree.at(id).generation;
            hub = tree.at(id).parent;
        }
    }
    if (hub < 0) {
        hangUp(*old);
        return;
    }
    showPorts(hub);
    const auto back = [this, id, generation] {
        bool current = false;
        {
            std::lock_guard<std::mutex> lock(stateMutex);
            current = tree.at(id).generation == generation;
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

} // namespace usbfs
