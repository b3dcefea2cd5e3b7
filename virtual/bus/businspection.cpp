// What the tests read back from the virtual bus: the transfer log, the counts of what product
// code holds, and the account of leaks and misuse.

#include "busstate.h"

#include <algorithm>
#include <sstream>

namespace vusb {

std::vector<TransferRecord> Bus::transfers() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->tree.transfers();
}

std::vector<TransferRecord> Bus::transfers(NodeId node) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->tree.transfers(node);
}

void Bus::clearTransfers()
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->tree.clearTransfers();
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

void Bus::setWireRate(uint64_t bytesPerSecond)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->wireBytesPerSecond = bytesPerSecond;
}

void Bus::setRecordTransfers(bool record)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->tree.setRecordTransfers(record);
}

} // namespace vusb
