// The virtual bus's test-facing side and its libusb objects; the tree itself is vcore::Tree.

#include "busstate.h"
#include "hubmodel.h"

#include <stdexcept>

namespace vusb {

// ----------------------------------------------------------------------------------------
// State

Node &Bus::State::node(NodeId id)
{
    tree.at(id);
    return nodes[id];
}

void Bus::State::note(const std::string &what)
{
    misuse.push_back(what);
}

void Bus::State::ref(libusb_device *device)
{
    ++device->internalRefs;
}

void Bus::State::unrefInternal(libusb_device *device)
{
    --device->internalRefs;
    if (device->internalRefs + device->apiRefs > 0)
        return;
    device->released = true;
    if (device->parent) {
        libusb_device *parent = device->parent;
        device->parent = nullptr;
        unrefInternal(parent);
    }
}

void Bus::State::releaseApiRef(libusb_device *device)
{
    --device->apiRefs;
    ++device->internalRefs;
    unrefInternal(device);
}

bool Bus::State::usable(const libusb_device *device, const char *call)
{
    if (!device) {
        note(std::string(call) + ": null device");
        return false;
    }
    if (device->released) {
        note(std::string(call) + ": device used after its last reference was released");
        return false;
    }
    return true;
}

bool Bus::State::usable(const libusb_device_handle *handle, const char *call)
{
    if (!handle) {
        note(std::string(call) + ": null handle");
        return false;
    }
    if (handle->closed) {
        note(std::string(call) + ": handle used after libusb_close");
        return false;
    }
    return true;
}

NodeId Bus::State::add(NodeId parent, uint8_t port, std::shared_ptr<vdev::UsbDeviceModel> model)
{
    const NodeId id = tree.add(parent, port, std::move(model));
    enumerate(id);
    return id;
}

void Bus::State::enumerate(NodeId id)
{
    const vcore::Place &p = tree.at(id);
    Node &n = node(id);
    auto device = std::make_unique<libusb_device>();
    device->node = id;
    device->busNumber = p.busNumber;
    device->address = tree.enumerate(id);
    device->portNumber = p.port;
    device->portPath = tree.pathOf(id);
    device->identity = p.model->identity();
    if (p.parent >= 0) {
        device->parent = node(p.parent).current;
        if (device->parent)
            ref(device->parent);
    }
    device->attached = true;
    ref(device.get()); // the bus's own reference while attached
    n.current = device.get();
    n.returning = false;
    noteHotplug(device.get(), LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED);
    devices.push_back(std::move(device));
}

void Bus::State::detach(NodeId id)
{
    for (NodeId child : tree.children(id)) {
        if (node(child).current)
            detach(child);
    }
    tree.leave(id);
    Node &n = node(id);
    if (libusb_device *device = n.current) {
        n.current = nullptr;
        device->attached = false;
        noteHotplug(device, LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT);
        unrefInternal(device);
    }
}

void Bus::State::processArrivals()
{
    const auto now = std::chrono::steady_clock::now();
    for (auto &[id, n] : nodes) {
        if (n.returning && n.returnAt <= now)
            enumerate(id);
    }
}

void Bus::State::scheduleReturn(NodeId id, const vdev::Reenumeration &restart)
{
    detach(id);
    if (!tree.placeForReturn(id, restart.arrival))
        return;
    Node &n = node(id);
    n.returning = true;
    n.returnAt = std::chrono::steady_clock::now() + restart.delay;
}

// ----------------------------------------------------------------------------------------
// Bus

Bus::Bus()
    : state_(std::make_unique<State>())
{
}

Bus::~Bus() = default;

// The default context of the tests, like libusb's own: one per process.
Bus Bus::instance_;

Bus &Bus::instance()
{
    return instance_;
}

void Bus::reset()
{
    auto fresh = std::make_unique<State>();
    std::lock_guard<std::mutex> lock(state_->mutex);
    for (libusb_device **list : state_->lists)
        delete[] list;
    // The old objects go once the lock is given back.
    std::swap(state_->tree, fresh->tree);
    std::swap(state_->nodes, fresh->nodes);
    std::swap(state_->devices, fresh->devices);
    std::swap(state_->handles, fresh->handles);
    std::swap(state_->hotplug, fresh->hotplug);
    state_->lists.clear();
    state_->misuse.clear();
    state_->driverScript.clear();
    state_->driverCalls = 0;
    state_->accessHint.clear();
    state_->deviceListError = 0;
    state_->deviceListFailures = 0;
    state_->observer = nullptr;
    state_->wireBytesPerSecond = 0;
}

NodeId Bus::addRootHub(uint8_t busNumber)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    const NodeId id = state_->tree.addRootHub(
        busNumber, std::make_shared<vdev::HubModel>(vdev::HubModel::rootHubIdentity()));
    state_->enumerate(id);
    return id;
}

NodeId Bus::addHub(NodeId parentHub, uint8_t port)
{
    return plug(
        parentHub, port, std::make_shared<vdev::HubModel>(vdev::HubModel::externalHubIdentity()));
}

NodeId Bus::plug(NodeId parentHub, uint8_t port, std::shared_ptr<vdev::UsbDeviceModel> model)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->add(parentHub, port, std::move(model));
}

void Bus::unplug(NodeId node)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->node(node).returning = false;
    state_->detach(node);
}

void Bus::linkPeerPorts(NodeId hub2, uint8_t port2, NodeId hub3, uint8_t port3)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->tree.linkPeerPorts(hub2, port2, hub3, port3);
}

void Bus::linkPeerHubs(NodeId hub2, NodeId hub3, uint8_t ports)
{
    for (uint8_t port = 1; port <= ports; ++port)
        linkPeerPorts(hub2, port, hub3, port);
}

std::optional<std::pair<uint8_t, std::vector<uint8_t>>> Bus::companionPort(
    uint8_t busNumber, const std::vector<uint8_t> &portPath) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->tree.companionPort(busNumber, portPath);
}

void Bus::replug(NodeId node)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->detach(node);
    state_->enumerate(node);
}

bool Bus::attached(NodeId node) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->processArrivals();
    return state_->node(node).current != nullptr;
}

uint8_t Bus::address(NodeId node) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->tree.at(node).address;
}

uint8_t Bus::busNumber(NodeId node) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->tree.at(node).busNumber;
}

std::vector<uint8_t> Bus::portPath(NodeId node) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->tree.pathOf(node);
}

void Bus::failDeviceList(int error, int times)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->deviceListError = error;
    state_->deviceListFailures = times;
}

void Bus::failDescriptor(NodeId node, int error)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->faults(node).descriptorError = error;
}

void Bus::failString(NodeId node, uint8_t index, int error)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->faults(node).stringErrors[index] = error;
}

void Bus::failOpen(NodeId node, int error, int times)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    vcore::Faults &f = state_->faults(node);
    f.openError = error;
    f.openFailuresLeft = times;
}

void Bus::requireDriver(NodeId node)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->faults(node).needsDriver = true;
}

void Bus::requireDriverAfterRestart(NodeId node)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->faults(node).needsDriverAfterRestart = true;
}

void Bus::failClaim(NodeId node, int error)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->faults(node).claimError = error;
}

void Bus::failRequest(NodeId node, RequestFault fault)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->faults(node).failRequest(fault);
}

void Bus::unplugAfterTransfers(NodeId node, int transfers)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->faults(node).unplugAfter = transfers;
}

void Bus::scriptDriverInstall(std::vector<int> results)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->driverScript.assign(results.begin(), results.end());
}

void Bus::scriptAccessHint(std::string hint)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->accessHint = std::move(hint);
}

int Bus::driverInstallCalls() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->driverCalls;
}

} // namespace vusb
