// The shared topology: places, paths, companion ports, addresses and returns after a restart.

#include "tree.h"

#include <algorithm>
#include <stdexcept>

namespace vcore {

NodeId Tree::addRootHub(uint8_t busNumber, std::shared_ptr<vdev::UsbDeviceModel> model)
{
    Place p;
    p.id = places_.empty() ? 0 : places_.rbegin()->first + 1;
    p.busNumber = busNumber;
    p.hub = true;
    p.model = std::move(model);
    return places_.emplace(p.id, std::move(p)).first->first;
}

NodeId Tree::add(NodeId parentHub, uint8_t port, std::shared_ptr<vdev::UsbDeviceModel> model)
{
    Place &hub = at(parentHub);
    if (!hub.hub)
        throw std::invalid_argument("virtual bus: devices plug into hubs");
    hub.ports.insert(port);
    Place p;
    p.id = places_.rbegin()->first + 1;
    p.parent = parentHub;
    p.busNumber = hub.busNumber;
    p.port = port;
    p.hub = model->isHub();
    p.model = std::move(model);
    return places_.emplace(p.id, std::move(p)).first->first;
}

Place &Tree::at(NodeId id)
{
    const auto it = places_.find(id);
    if (it == places_.end())
        throw std::out_of_range("virtual bus: no node " + std::to_string(id));
    return it->second;
}

const Place &Tree::at(NodeId id) const
{
    return const_cast<Tree *>(this)->at(id);
}

std::vector<NodeId> Tree::ids() const
{
    std::vector<NodeId> all;
    for (const auto &entry : places_)
        all.push_back(entry.first);
    return all;
}

std::vector<NodeId> Tree::children(NodeId id) const
{
    std::vector<NodeId> below;
    for (const auto &[child, p] : places_) {
        if (p.parent == id)
            below.push_back(child);
    }
    return below;
}

std::vector<uint8_t> Tree::pathOf(NodeId id) const
{
    std::vector<uint8_t> path;
    for (const Place *p = &at(id); p->parent >= 0; p = &at(p->parent))
        path.insert(path.begin(), p->port);
    return path;
}

std::string Tree::nameOf(NodeId id) const
{
    const Place &p = at(id);
    if (p.parent < 0)
        return "usb" + std::to_string(p.busNumber);
    std::string name = std::to_string(p.busNumber) + "-";
    const std::vector<uint8_t> path = pathOf(id);
    for (size_t i = 0; i < path.size(); ++i)
        name += (i == 0 ? "" : ".") + std::to_string(path[i]);
    return name;
}

const Place &Tree::rootOf(NodeId id) const
{
    const Place *p = &at(id);
    while (p->parent >= 0)
        p = &at(p->parent);
    return *p;
}

void Tree::linkPeerPorts(NodeId hub2, uint8_t port2, NodeId hub3, uint8_t port3)
{
    Place &a = at(hub2);
    Place &b = at(hub3);
    if (!a.hub || !b.hub)
        throw std::invalid_argument("virtual bus: only hub ports have companions");
    a.peers[port2] = {hub3, port3};
    b.peers[port3] = {hub2, port2};
    a.ports.insert(port2);
    b.ports.insert(port3);
}

std::optional<std::pair<uint8_t, std::vector<uint8_t>>> Tree::companionPort(
    uint8_t busNumber, const std::vector<uint8_t> &portPath) const
{
    if (portPath.empty())
        return std::nullopt;
    const std::vector<uint8_t> hubPath(portPath.begin(), portPath.end() - 1);
    for (const auto &[id, p] : places_) {
        if (!p.hub || p.busNumber != busNumber || pathOf(id) != hubPath)
            continue;
        const auto peer = p.peers.find(portPath.back());
        if (peer == p.peers.end())
            return std::nullopt;
        std::vector<uint8_t> path = pathOf(peer->second.first);
        path.push_back(peer->second.second);
        return std::make_pair(at(peer->second.first).busNumber, path);
    }
    return std::nullopt;
}

uint8_t Tree::enumerate(NodeId id)
{
    Place &p = at(id);
    ++p.enumerations;
    if (p.parent < 0)
        return p.address = 1;
    // Like the kernel: the next address after the last one given, wrapping past 127, skipping
    // the ones in use.
    uint8_t candidate = lastAddress_.count(p.busNumber) ? lastAddress_[p.busNumber] : 1;
    for (int tries = 0; tries < 126; ++tries) {
        candidate = candidate >= 127 ? 2 : uint8_t(candidate + 1);
        const bool taken = std::any_of(places_.begin(), places_.end(), [&](const auto &entry) {
            return entry.second.busNumber == p.busNumber && entry.second.address == candidate;
        });
        if (taken)
            continue;
        lastAddress_[p.busNumber] = candidate;
        return p.address = candidate;
    }
    throw std::runtime_error("virtual bus: no free address on bus " + std::to_string(p.busNumber));
}

bool Tree::placeForReturn(NodeId id, vdev::Arrival arrival)
{
    Place &p = at(id);
    switch (arrival) {
    case vdev::Arrival::Never:
        return false;
    case vdev::Arrival::OtherPort:
        ++p.port;
        break;
    case vdev::Arrival::CompanionPort: {
        // Where the port has no companion the device comes back on its port.
        const auto &peers = at(p.parent).peers;
        const auto peer = peers.find(p.port);
        if (peer != peers.end()) {
            p.parent = peer->second.first;
            p.port = peer->second.second;
            p.busNumber = at(p.parent).busNumber;
        }
        break;
    }
    case vdev::Arrival::SamePort:
        break;
    }
    at(p.parent).ports.insert(p.port);
    p.faults.restarted();
    return true;
}

void Tree::record(Transfer transfer)
{
    if (keepLog_)
        log_.push_back(std::move(transfer));
}

std::vector<Transfer> Tree::transfers(NodeId id) const
{
    std::vector<Transfer> mine;
    std::copy_if(log_.begin(), log_.end(), std::back_inserter(mine),
        [id](const Transfer &t) { return t.node == id; });
    return mine;
}

} // namespace vcore
