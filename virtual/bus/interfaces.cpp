// Interfaces and their drivers on the virtual bus, by the rules of Linux's usbfs: a claim,
// the kernel driver that keeps an interface, and the claim a standard or class request needs.

#include "busstate.h"

#include <libusb.h>

#include <algorithm>
#include <mutex>

namespace vusb {

namespace {

Bus::State &state()
{
    return Bus::instance().state();
}

using Lock = std::lock_guard<std::mutex>;

bool claimedByAnother(const Bus::State &s, const libusb_device_handle *handle, int interface)
{
    return std::any_of(s.handles.begin(), s.handles.end(),
        [&](const std::unique_ptr<libusb_device_handle> &other) {
            return other.get() != handle && !other->closed && other->device == handle->device
                && other->claimed.count(interface);
        });
}

} // namespace

int Bus::State::claimForRequest(libusb_device_handle *handle, uint8_t requestType, uint16_t index)
{
    // Vendor requests, and any request to the device or to endpoint 0, need no interface.
    const uint8_t recipient = requestType & 0x1F;
    const bool endpoint = recipient == LIBUSB_RECIPIENT_ENDPOINT && (index & 0x7F) != 0;
    if ((requestType & 0x60) == LIBUSB_REQUEST_TYPE_VENDOR
        || (recipient != LIBUSB_RECIPIENT_INTERFACE && !endpoint))
        return 0;
    // The models have one interface: every endpoint beyond 0 is interface 0's.
    const int interface = endpoint ? 0 : (index & 0xFF);
    if (handle->claimed.count(interface))
        return 0;
    // usbfs's refusal (EBUSY from the URB submission) reaches the caller as an I/O error.
    if ((interface == 0 && node(handle->device->node).kernelDriverActive)
        || claimedByAnother(*this, handle, interface))
        return LIBUSB_ERROR_IO;
    handle->claimed.insert(interface);
    return 0;
}

void Bus::setKernelDriverActive(NodeId node, bool active)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    Node &n = state_->node(node);
    n.kernelDriverActive = active;
    n.kernelDriverDetached = false;
}

int Bus::kernelDriverDetaches(NodeId node) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->node(node).detaches;
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

} // namespace vusb

using vusb::Bus;
using vusb::Lock;
using vusb::Node;
using vusb::state;

extern "C" {

int LIBUSB_CALL libusb_kernel_driver_active(libusb_device_handle *dev_handle, int)
{
    Bus::State &s = state();
    Lock lock(s.mutex);
    if (!s.usable(dev_handle, "libusb_kernel_driver_active"))
        return LIBUSB_ERROR_INVALID_PARAM;
    if (!dev_handle->device->attached)
        return LIBUSB_ERROR_NO_DEVICE;
    return s.node(dev_handle->device->node).kernelDriverActive ? 1 : 0;
}

int LIBUSB_CALL libusb_detach_kernel_driver(libusb_device_handle *dev_handle, int)
{
    Bus::State &s = state();
    Lock lock(s.mutex);
    if (!s.usable(dev_handle, "libusb_detach_kernel_driver"))
        return LIBUSB_ERROR_INVALID_PARAM;
    if (!dev_handle->device->attached)
        return LIBUSB_ERROR_NO_DEVICE;
    Node &n = s.node(dev_handle->device->node);
    if (!n.kernelDriverActive)
        return LIBUSB_ERROR_NOT_FOUND;
    n.kernelDriverActive = false;
    n.kernelDriverDetached = true;
    ++n.detaches;
    return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_attach_kernel_driver(libusb_device_handle *dev_handle, int interface_number)
{
    Bus::State &s = state();
    Lock lock(s.mutex);
    if (!s.usable(dev_handle, "libusb_attach_kernel_driver"))
        return LIBUSB_ERROR_INVALID_PARAM;
    if (!dev_handle->device->attached)
        return LIBUSB_ERROR_NO_DEVICE;
    // Like Linux: a kernel driver cannot take an interface that a handle still claims, nor
    // one that a driver (itself included) already holds.
    Node &n = s.node(dev_handle->device->node);
    if (dev_handle->claimed.count(interface_number) || n.kernelDriverActive)
        return LIBUSB_ERROR_BUSY;
    if (!n.kernelDriverDetached)
        return LIBUSB_ERROR_NOT_FOUND;
    n.kernelDriverDetached = false;
    n.kernelDriverActive = true;
    return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_claim_interface(libusb_device_handle *dev_handle, int interface_number)
{
    Bus::State &s = state();
    Lock lock(s.mutex);
    if (!s.usable(dev_handle, "libusb_claim_interface"))
        return LIBUSB_ERROR_INVALID_PARAM;
    if (!dev_handle->device->attached)
        return LIBUSB_ERROR_NO_DEVICE;
    const Node &n = s.node(dev_handle->device->node);
    if (const int error = s.faults(dev_handle->device->node).claimError)
        return error;
    if (dev_handle->claimed.count(interface_number))
        return LIBUSB_SUCCESS;
    // usbfs gives an interface to one program at a time, and does not take it from the kernel
    // driver that holds it: that has to be detached first.
    if (n.kernelDriverActive || vusb::claimedByAnother(s, dev_handle, interface_number))
        return LIBUSB_ERROR_BUSY;
    dev_handle->claimed.insert(interface_number);
    return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_release_interface(libusb_device_handle *dev_handle, int interface_number)
{
    Bus::State &s = state();
    Lock lock(s.mutex);
    if (!s.usable(dev_handle, "libusb_release_interface"))
        return LIBUSB_ERROR_INVALID_PARAM;
    if (dev_handle->claimed.erase(interface_number) == 0)
        return LIBUSB_ERROR_NOT_FOUND;
    return dev_handle->device->attached ? LIBUSB_SUCCESS : LIBUSB_ERROR_NO_DEVICE;
}

} // extern "C"
