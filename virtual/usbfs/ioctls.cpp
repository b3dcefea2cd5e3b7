// The usbfs ioctls libusb makes on a device node, answered on umockdev's worker thread: opens
// and closes, reaping, capabilities, connection info, and the interface and driver calls.

#include "busimpl.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <linux/usb/ch9.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

namespace usbfs {

namespace {

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

// umockdev (0.17) keeps a client object for exactly as long as its file is open, and emits no
// signal when it closes: the object's finalization is the close.
void onClientGone(gpointer data, GObject *client)
{
    auto *e = static_cast<Enumeration *>(data);
    e->bus->vanished(*e, reinterpret_cast<UMockdevIoctlClient *>(client));
}

} // namespace

void Bus::Impl::connected(Enumeration &e, UMockdevIoctlClient *client)
{
    g_object_weak_ref(G_OBJECT(client), onClientGone, &e);
    std::lock_guard<std::mutex> lock(stateMutex);
    e.clients[client];
    at(e.node).calls.push_back("open");
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
    at(e.node).calls.push_back("close");
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

int Bus::Impl::claimForRequest(
    Enumeration &e, UMockdevIoctlClient *client, const vdev::ControlSetup &setup)
{
    // As the kernel's check of a control request's recipient: vendor requests, and requests to
    // the device or to endpoint 0, pass on any open file.
    const unsigned recipient = setup.requestType & USB_RECIP_MASK;
    const bool endpoint = recipient == USB_RECIP_ENDPOINT && (setup.index & 0x7F) != 0;
    if ((setup.requestType & USB_TYPE_MASK) == USB_TYPE_VENDOR
        || (recipient != USB_RECIP_INTERFACE && !endpoint))
        return 0;
    // The models have one interface: every endpoint beyond 0 is interface 0's.
    if (!endpoint && (setup.index & 0xFF) != 0)
        return ENOENT;
    Client &c = e.clients[client];
    if (c.claimed & 1u)
        return 0;
    // A free interface is claimed for the file on the way (the kernel warns that the process
    // "did not claim interface 0 before use"); one a driver holds is busy.
    if (!e.driver.empty())
        return EBUSY;
    e.driver = "usbfs";
    c.claimed |= 1u;
    at(e.node).calls.push_back("claim 0 (implicit)");
    return 0;
}

gboolean Bus::Impl::handleIoctl(Enumeration &e, UMockdevIoctlClient *client)
{
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard<std::mutex> lock(stateMutex);
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
        return submit(e, client, arg);
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
        return interfaceCall(e, client, request, arg);
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
        const std::vector<uint8_t> path = tree.pathOf(e.node);
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

gboolean Bus::Impl::interfaceCall(
    Enumeration &e, UMockdevIoctlClient *client, gulong request, UMockdevIoctlData *arg)
{
    Client &c = e.clients[client];
    std::vector<std::string> &calls = at(e.node).calls;
    const std::string &kernelDriver = tree.at(e.node).faults.kernelDriver;
    const auto reply = [&](const std::string &call, long result, int error) {
        calls.push_back(error ? call + " -> " + errnoName(error) : call);
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
            if (kernelDriver.empty())
                return reply(call + ": none", 0, 0);
            e.driver = kernelDriver;
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

} // namespace usbfs
