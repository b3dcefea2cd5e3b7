// The URB engine: a submitted control URB goes to the device model on the bus thread, comes
// back reapable with usbfs's status, and lands in the tree's transfer log.

#include "busimpl.h"
#include "descriptors.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/usb/ch9.h>
#include <linux/usbdevice_fs.h>

namespace usbfs {

namespace {

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

// The standard requests the host controller's enumeration answers from the descriptors it
// already read, as a hub driver does; everything else goes to the model.
int answerStandard(const Enumeration &e, const vdev::ControlSetup &setup, uint8_t *data)
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
            answer = vcore::languageDescriptor();
            break;
        }
        const std::optional<std::string> text = e.model->stringDescriptor(index);
        if (!text)
            return vdev::Pipe;
        answer = vcore::stringDescriptor(*text);
        break;
    }
    default:
        return vdev::Pipe;
    }
    const size_t count = std::min<size_t>(answer.size(), setup.length);
    std::copy(answer.begin(), answer.begin() + long(count), data);
    return int(count);
}

} // namespace

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
    int answer = urb->injected;
    std::optional<vdev::Reenumeration> reenumeration;
    if (answer == 0) {
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

gboolean Bus::Impl::submit(Enumeration &e, UMockdevIoctlClient *client, UMockdevIoctlData *arg)
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
    const std::string call
        = "urb " + hex(urb->setup.requestType, 2) + " " + hex(urb->setup.request, 2);
    if (const int refused = claimForRequest(e, client, urb->setup)) {
        at(e.node).calls.push_back(call + (refused == EBUSY ? " -> EBUSY" : " -> ENOENT"));
        umockdev_ioctl_client_complete(client, -1, refused);
        return TRUE;
    }
    urb->client = client;
    urb->address = urb->urb->client_addr;
    e.clients[client].inFlight.push_back(urb);
    at(e.node).calls.push_back(call);

    // Completed first: umockdev syncs the URB back to the client here, and the device may only
    // write its answer into it afterwards.
    umockdev_ioctl_client_complete(client, 0, 0);
    urb->injected = tree.at(e.node).faults.onRequest(urb->setup.request);
    if (urb->injected == vcore::Unplug) {
        post([this, id = e.node] { depart(id); });
    } else if (urb->injected == vcore::Hold) {
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

    vcore::Transfer t;
    t.node = e.node;
    t.requestType = urb->setup.requestType;
    t.request = urb->setup.request;
    t.value = urb->setup.value;
    t.index = urb->setup.index;
    t.length = urb->setup.length;
    t.data = urb->setup.deviceToHost() ? in : urb->sent;
    t.result = logResult(status, actual);
    tree.record(std::move(t));

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

void Bus::Impl::updateReady(Enumeration &e)
{
    bool ready = false;
    for (const auto &[client, c] : e.clients)
        ready = ready || !c.reapable.empty();
    e.signal->setReady(ready);
}

} // namespace usbfs
