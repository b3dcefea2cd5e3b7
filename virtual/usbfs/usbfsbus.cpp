// The test-facing side of the usbfs test bed: builds the tree, sets faults and reads back what
// the devices saw. Changes to the test bed itself run on the bus thread.

#include "busimpl.h"
#include "hubmodel.h"

#include <stdexcept>

namespace usbfs {

Bus::Bus()
    : impl_(std::make_unique<Impl>())
{
}

Bus::~Bus() = default;

NodeId Bus::addRootHub(uint8_t busNumber, Speed speed)
{
    vdev::Identity identity = vdev::HubModel::rootHubIdentity();
    identity.productId = speed == Speed::Super ? 0x0003 : 0x0002;
    NodeId id = -1;
    {
        std::lock_guard<std::mutex> lock(impl_->stateMutex);
        id = impl_->tree.addRootHub(busNumber, std::make_shared<vdev::HubModel>(identity));
        impl_->tree.at(id).faults.kernelDriver = "hub";
        impl_->at(id).speed = speed;
    }
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
    NodeId id = -1;
    {
        std::lock_guard<std::mutex> lock(impl_->stateMutex);
        id = impl_->tree.add(parentHub, port, std::move(model));
        vcore::Place &p = impl_->tree.at(id);
        if (p.hub)
            p.faults.kernelDriver = "hub";
    }
    impl_->runOnBus([&] { impl_->arrive(id); });
    return id;
}

void Bus::linkPeerPorts(NodeId hub2, uint8_t port2, NodeId hub3, uint8_t port3)
{
    {
        std::lock_guard<std::mutex> lock(impl_->stateMutex);
        impl_->tree.linkPeerPorts(hub2, port2, hub3, port3);
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
        ++impl_->tree.at(node).generation;
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
    return bool(impl_->at(node).current);
}

uint8_t Bus::address(NodeId node) const
{
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    const auto &e = impl_->at(node).current;
    return e ? e->address : 0;
}

uint8_t Bus::busNumber(NodeId node) const
{
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    return impl_->tree.at(node).busNumber;
}

std::vector<uint8_t> Bus::portPath(NodeId node) const
{
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    return impl_->tree.pathOf(node);
}

std::string Bus::name(NodeId node) const
{
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    return impl_->tree.nameOf(node);
}

int Bus::enumerations(NodeId node) const
{
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    return impl_->tree.at(node).enumerations;
}

void Bus::setKernelDriver(NodeId node, const std::string &driver)
{
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    impl_->tree.at(node).faults.kernelDriver = driver;
    // It binds at once when the interface is free, as it would have at the enumeration.
    const auto &e = impl_->at(node).current;
    if (e && e->driver.empty())
        e->driver = driver;
}

void Bus::failRequest(NodeId node, RequestFault fault)
{
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    impl_->tree.at(node).faults.failRequest(fault);
}

void Bus::unplugDuring(NodeId node, uint8_t request, int occurrence)
{
    failRequest(node, {request, occurrence, 1, vcore::Unplug});
}

void Bus::denyAccess(NodeId node)
{
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    vcore::Faults &f = impl_->tree.at(node).faults;
    f.openError = vdev::Access;
    f.openFailuresLeft = -1;
}

void Bus::holdRequests(NodeId node, uint8_t request)
{
    failRequest(node, {request, 1, -1, vcore::Hold});
}

std::string Bus::boundDriver(NodeId node) const
{
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    const auto &e = impl_->at(node).current;
    return e ? e->driver : std::string();
}

std::vector<Transfer> Bus::transfers(NodeId node) const
{
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    return impl_->tree.transfers(node);
}

std::vector<std::string> Bus::calls(NodeId node) const
{
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    return impl_->at(node).calls;
}

void Bus::clearLogs()
{
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    impl_->tree.clearTransfers();
    for (auto &[id, p] : impl_->presence)
        p.calls.clear();
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

} // namespace usbfs
