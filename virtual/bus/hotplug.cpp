// libusb's hotplug notification on the virtual bus: callbacks are registered and deregistered
// as with libusb, every arrival and departure of the tree is queued for them, and
// libusb_handle_events_timeout_completed calls them, on the caller's thread and without the bus
// lock (a callback may ask the device for its descriptor), as libusb's event handling does.

#include "busstate.h"

#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <mutex>

using vusb::Bus;

namespace {

Bus::State &state()
{
    return Bus::instance().state();
}

bool matches(
    const vusb::HotplugCallback &callback, const libusb_device *device, libusb_hotplug_event event)
{
    const auto fits = [](int wanted, int value) {
        return wanted == LIBUSB_HOTPLUG_MATCH_ANY || wanted == value;
    };
    return (callback.events & event) && fits(callback.vendorId, device->identity.vendorId)
        && fits(callback.productId, device->identity.productId)
        && fits(callback.deviceClass, device->identity.deviceClass);
}

} // namespace

namespace vusb {

void Bus::State::noteHotplug(libusb_device *device, libusb_hotplug_event event)
{
    // libusb drops what no callback waits for.
    if (hotplug.callbacks.empty())
        return;
    ref(device); // valid until every callback has seen it, also after it left
    hotplug.events.emplace_back(device, event);
    eventsChanged.notify_all();
}

void Bus::setHotplugCapable(bool capable)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->hotplug.capable = capable;
}

int Bus::hotplugDeliveries() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->hotplug.delivered;
}

} // namespace vusb

extern "C" {

// Defined by the drop-in library only: it looks whether its device file changed and plugs or
// unplugs what did, before the events are delivered.
void lumexorVirtualBusWatch() __attribute__((weak));

int LIBUSB_CALL libusb_has_capability(uint32_t capability)
{
    if (capability == LIBUSB_CAP_HAS_CAPABILITY)
        return 1;
    if (capability != LIBUSB_CAP_HAS_HOTPLUG)
        return 0;
    Bus::State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.hotplug.capable ? 1 : 0;
}

int LIBUSB_CALL libusb_hotplug_register_callback(libusb_context *, int events, int flags,
    int vendor_id, int product_id, int dev_class, libusb_hotplug_callback_fn cb_fn, void *user_data,
    libusb_hotplug_callback_handle *callback_handle)
{
    Bus::State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.hotplug.capable)
        return LIBUSB_ERROR_NOT_SUPPORTED;
    const int known = LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT;
    // The product never asks for the attached devices (LIBUSB_HOTPLUG_ENUMERATE): it scans.
    if (!cb_fn || events == 0 || (events & ~known) || flags != 0)
        return LIBUSB_ERROR_INVALID_PARAM;
    const int handle = s.hotplug.nextHandle++;
    s.hotplug.callbacks.push_back(
        {handle, events, vendor_id, product_id, dev_class, cb_fn, user_data});
    if (callback_handle)
        *callback_handle = handle;
    return LIBUSB_SUCCESS;
}

void LIBUSB_CALL libusb_hotplug_deregister_callback(
    libusb_context *, libusb_hotplug_callback_handle callback_handle)
{
    Bus::State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto &callbacks = s.hotplug.callbacks;
    const auto gone = std::remove_if(callbacks.begin(), callbacks.end(),
        [&](const vusb::HotplugCallback &c) { return c.handle == callback_handle; });
    if (gone == callbacks.end()) {
        s.note("libusb_hotplug_deregister_callback: no such callback");
        return;
    }
    callbacks.erase(gone, callbacks.end());
    if (callbacks.empty()) {
        for (const auto &queued : s.hotplug.events)
            s.unrefInternal(queued.first);
        s.hotplug.events.clear();
    }
    // libusb wakes the event handler, so a thread that waits for events sees it at once.
    s.eventsChanged.notify_all();
}

void LIBUSB_CALL libusb_interrupt_event_handler(libusb_context *)
{
    Bus::State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.hotplug.interrupted = true;
    s.eventsChanged.notify_all();
}

// Waits at most `tv` for an event (an arrival, a departure, a device back from its restart,
// an interruption), then delivers every queued arrival and departure. `completed` ends the
// wait as with libusb; the product passes none.
int LIBUSB_CALL libusb_handle_events_timeout_completed(
    libusb_context *, struct timeval *tv, int *completed)
{
    if (lumexorVirtualBusWatch)
        lumexorVirtualBusWatch();
    Bus::State &s = state();
    std::unique_lock<std::mutex> lock(s.mutex);
    const auto deadline = std::chrono::steady_clock::now()
        + (tv ? std::chrono::seconds(tv->tv_sec) + std::chrono::microseconds(tv->tv_usec)
              : std::chrono::microseconds(0));
    for (;;) {
        // A device that restarts comes back when its time is up, not at the next listing.
        s.processArrivals();
        if (!s.hotplug.events.empty() || s.hotplug.interrupted || (completed && *completed))
            break;
        auto wakeAt = deadline;
        for (const auto &entry : s.nodes) {
            if (entry.second.returning)
                wakeAt = std::min(wakeAt, entry.second.returnAt);
        }
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        s.eventsChanged.wait_until(lock, wakeAt);
    }
    s.hotplug.interrupted = false;

    while (!s.hotplug.events.empty()) {
        const auto [device, event] = s.hotplug.events.front();
        s.hotplug.events.pop_front();
        // The callbacks registered now; one deregistered while an earlier one runs is skipped.
        const std::vector<vusb::HotplugCallback> callbacks = s.hotplug.callbacks;
        for (const vusb::HotplugCallback &callback : callbacks) {
            const auto &live = s.hotplug.callbacks;
            const bool registered = std::any_of(live.begin(), live.end(),
                [&](const vusb::HotplugCallback &c) { return c.handle == callback.handle; });
            if (!registered || !matches(callback, device, event))
                continue;
            lock.unlock();
            const int done = callback.function(nullptr, device, event, callback.userData);
            lock.lock();
            // A callback that returns 1 is deregistered, as with libusb.
            if (done == 1) {
                auto &now = s.hotplug.callbacks;
                now.erase(std::remove_if(now.begin(), now.end(),
                              [&](const vusb::HotplugCallback &c) {
                                  return c.handle == callback.handle;
                              }),
                    now.end());
            }
        }
        s.unrefInternal(device);
        ++s.hotplug.delivered;
    }
    return LIBUSB_SUCCESS;
}

} // extern "C"
