#include "busstate.h"
#include "hubmodel.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

namespace vusb {

namespace {

std::vector<uint8_t> pathOf(const std::map<NodeId, Node> &nodes, NodeId id)
{
    std::vector<uint8_t> path;
    for (NodeId at = id; at >= 0; at = nodes.at(at).parent) {
        if (nodes.at(at).parent >= 0)
            path.insert(path.begin(), nodes.at(at).port);
    }
    return path;
}

} // namespace

// ----------------------------------------------------------------------------------------
// State

Node &Bus::State::node(NodeId id)
{
    auto it = nodes.find(id);
    if (it == nodes.end())
        throw std::out_of_range("virtual bus: no node " + std::to_string(id));
    return it->second;
}

const Node &Bus::State::node(NodeId id) const
{
    return const_cast<State *>(this)->node(id);
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

void Bus::State::enumerate(Node &n)
{
    auto device = std::make_unique<libusb_device>();
    device->node = n.id;
    device->busNumber = n.busNumber;
    uint8_t &last = lastAddress[n.busNumber];
    // Addresses 1-127 are handed out in turn, as a host controller does.
    last = static_cast<uint8_t>(last % 127 + 1);
    device->address = last;
    device->portNumber = n.port;
    device->portPath = pathOf(nodes, n.id);
    device->identity = n.model->identity();
    if (n.parent >= 0) {
        device->parent = node(n.parent).current;
        if (device->parent)
            ref(device->parent);
    }
    device->attached = true;
    ref(device.get()); // the bus's own reference while attached
    n.current = device.get();
    n.plugged = true;
    n.returning = false;
    devices.push_back(std::move(device));
}

void Bus::State::detach(Node &n)
{
    for (auto &[id, child] : nodes) {
        if (child.parent == n.id && child.plugged)
            detach(child);
    }
    n.plugged = false;
    if (libusb_device *device = n.current) {
        n.current = nullptr;
        device->attached = false;
        unrefInternal(device);
    }
}

void Bus::State::processArrivals()
{
    const auto now = std::chrono::steady_clock::now();
    for (auto &[id, n] : nodes) {
        if (n.returning && n.returnAt <= now)
            enumerate(n);
    }
}

void Bus::State::moveToCompanion(Node &n)
{
    const auto peer = peers.find({n.parent, n.port});
    if (peer == peers.end())
        return;
    n.parent = peer->second.first;
    n.port = peer->second.second;
    n.busNumber = node(n.parent).busNumber;
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
    std::swap(state_->nodes, fresh->nodes);
    std::swap(state_->devices, fresh->devices);
    std::swap(state_->handles, fresh->handles);
    state_->lists.clear();
    state_->lastAddress.clear();
    state_->transfers.clear();
    state_->misuse.clear();
    state_->driverScript.clear();
    state_->driverCalls = 0;
    state_->deviceListError = 0;
    state_->deviceListFailures = 0;
    state_->observer = nullptr;
    state_->recordTransfers = true;
    state_->peers.clear();
}

NodeId Bus::addRootHub(uint8_t busNumber)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    Node n;
    n.id = static_cast<NodeId>(state_->nodes.size());
    n.busNumber = busNumber;
    n.model = std::make_shared<vdev::HubModel>(vdev::HubModel::rootHubIdentity());
    Node &stored = state_->nodes[n.id] = std::move(n);
    state_->enumerate(stored);
    return stored.id;
}

NodeId Bus::addHub(NodeId parentHub, uint8_t port)
{
    return plug(
        parentHub, port, std::make_shared<vdev::HubModel>(vdev::HubModel::externalHubIdentity()));
}

NodeId Bus::plug(NodeId parentHub, uint8_t port, std::shared_ptr<vdev::UsbDeviceModel> model)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    const Node &hub = state_->node(parentHub);
    if (!hub.model->isHub())
        throw std::invalid_argument("virtual bus: devices plug into hubs");
    Node n;
    n.id = static_cast<NodeId>(state_->nodes.size());
    n.parent = parentHub;
    n.busNumber = hub.busNumber;
    n.port = port;
    n.model = std::move(model);
    Node &stored = state_->nodes[n.id] = std::move(n);
    state_->enumerate(stored);
    return stored.id;
}

void Bus::unplug(NodeId node)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    Node &n = state_->node(node);
    n.returning = false;
    state_->detach(n);
}

void Bus::linkPeerPorts(NodeId hub2, uint8_t port2, NodeId hub3, uint8_t port3)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (!state_->node(hub2).model->isHub() || !state_->node(hub3).model->isHub())
        throw std::invalid_argument("virtual bus: only hub ports have companions");
    state_->peers[{hub2, port2}] = {hub3, port3};
    state_->peers[{hub3, port3}] = {hub2, port2};
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
    if (portPath.empty())
        return std::nullopt;
    const std::vector<uint8_t> hubPath(portPath.begin(), portPath.end() - 1);
    for (const auto &[id, n] : state_->nodes) {
        if (!n.model->isHub() || n.busNumber != busNumber || pathOf(state_->nodes, id) != hubPath)
            continue;
        const auto peer = state_->peers.find({id, portPath.back()});
        if (peer == state_->peers.end())
            return std::nullopt;
        std::vector<uint8_t> path = pathOf(state_->nodes, peer->second.first);
        path.push_back(peer->second.second);
        return std::make_pair(state_->node(peer->second.first).busNumber, path);
    }
    return std::nullopt;
}

void Bus::replug(NodeId node)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    Node &n = state_->node(node);
    state_->detach(n);
    state_->enumerate(n);
}

bool Bus::attached(NodeId node) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->processArrivals();
    return state_->node(node).plugged;
}

uint8_t Bus::address(NodeId node) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    const Node &n = state_->node(node);
    return n.current ? n.current->address : 0;
}

uint8_t Bus::busNumber(NodeId node) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->node(node).busNumber;
}

std::vector<uint8_t> Bus::portPath(NodeId node) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return pathOf(state_->nodes, node);
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
    state_->node(node).descriptorError = error;
}

void Bus::failString(NodeId node, uint8_t index, int error)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->node(node).stringErrors[index] = error;
}

void Bus::failOpen(NodeId node, int error, int times)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    Node &n = state_->node(node);
    n.openError = error;
    n.openFailuresLeft = times;
}

void Bus::requireDriver(NodeId node)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->node(node).needsDriver = true;
}

void Bus::requireDriverAfterRestart(NodeId node)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->node(node).needsDriverAfterRestart = true;
}

void Bus::failClaim(NodeId node, int error)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->node(node).claimError = error;
}

void Bus::failRequest(NodeId node, RequestFault fault)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    Node &n = state_->node(node);
    // Occurrences count from now on.
    fault.fromOccurrence += n.requestCounts[fault.request];
    n.requestFaults.push_back(fault);
}

void Bus::unplugAfterTransfers(NodeId node, int transfers)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->node(node).unplugAfter = transfers;
}

void Bus::setKernelDriverActive(NodeId node, bool active)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    Node &n = state_->node(node);
    n.kernelDriverActive = active;
    n.kernelDriverDetached = false;
}

void Bus::scriptDriverInstall(std::vector<int> results)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->driverScript.assign(results.begin(), results.end());
}

int Bus::driverInstallCalls() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->driverCalls;
}

std::vector<TransferRecord> Bus::transfers() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->transfers;
}

std::vector<TransferRecord> Bus::transfers(NodeId node) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::vector<TransferRecord> mine;
    std::copy_if(state_->transfers.begin(), state_->transfers.end(), std::back_inserter(mine),
        [node](const TransferRecord &t) { return t.node == node; });
    return mine;
}

void Bus::clearTransfers()
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->transfers.clear();
}

int Bus::openCalls(NodeId node) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->node(node).openCalls;
}

int Bus::liveReferences() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    int refs = 0;
    for (const auto &device : state_->devices)
        refs += device->apiRefs;
    return refs;
}

int Bus::openHandles() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return static_cast<int>(std::count_if(
        state_->handles.begin(), state_->handles.end(), [](const auto &h) { return !h->closed; }));
}

int Bus::claimedInterfaces() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    size_t claimed = 0;
    for (const auto &handle : state_->handles) {
        if (!handle->closed)
            claimed += handle->claimed.size();
    }
    return static_cast<int>(claimed);
}

int Bus::openDeviceLists() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return static_cast<int>(state_->lists.size());
}

std::vector<std::string> Bus::misuse() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->misuse;
}

std::string Bus::leakReport() const
{
    std::ostringstream report;
    if (const int refs = liveReferences())
        report << refs << " libusb_device reference(s) never released; ";
    if (const int handles = openHandles())
        report << handles << " handle(s) never closed; ";
    if (const int claimed = claimedInterfaces())
        report << claimed << " interface(s) still claimed; ";
    if (const int lists = openDeviceLists())
        report << lists << " device list(s) never freed; ";
    for (const std::string &m : misuse())
        report << "misuse: " << m << "; ";
    return report.str();
}

void Bus::locked(const std::function<void()> &inspect) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    inspect();
}

void Bus::setTransferObserver(TransferObserver observer)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->observer = std::move(observer);
}

void Bus::setRecordTransfers(bool record)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->recordTransfers = record;
}

} // namespace vusb
