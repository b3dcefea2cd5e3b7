// Several threads open, talk to and close devices through the USB layer while another thread
// unplugs and replugs them, as the scanner, configuration and update threads do against a
// user who pulls cables, and the hotplug monitor's thread handles the arrivals and departures
// (asking each for its descriptor, as the monitor does). Built under ThreadSanitizer in CI;
// fails on a leak or misuse, or when no arrival or departure reached the callback.

#include "deviceaddressing.h"
#include "deviceopen.h"
#include "norbydevice.h"
#include "virtualbus.h"

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr int kWorkers = 4;
constexpr int kRounds = 300;

std::vector<DeviceDescription> describeAll()
{
    std::vector<DeviceDescription> found;
    libusb_device **list = nullptr;
    const ssize_t n = libusb_get_device_list(nullptr, &list);
    if (n < 0)
        return found;
    for (ssize_t i = 0; i < n; ++i) {
        DeviceDescription desc;
        if (device_addressing_fill(list[i], desc) == 0 && desc.vendorId == 0x2B77) {
            desc.deviceAddress = -1;
            found.push_back(desc);
        }
    }
    libusb_free_device_list(list, 1);
    return found;
}

void work(std::atomic<int> &answered)
{
    for (int round = 0; round < kRounds; ++round) {
        for (const DeviceDescription &desc : describeAll()) {
            const DeviceDescription copy = desc; // descriptions travel by value
            OpenedDevice opened = OpenedDevice::open(copy);
            if (!opened)
                continue;
            uint8_t status = 0;
            if (libusb_control_transfer(opened.handle(), 0xC0, 0xC8, 0, 0, &status, 1, 1000) == 1)
                ++answered;
        }
    }
}

int LIBUSB_CALL countEvent(
    libusb_context *, libusb_device *device, libusb_hotplug_event, void *seen)
{
    libusb_device_descriptor descriptor {};
    if (libusb_get_device_descriptor(device, &descriptor) == 0 && descriptor.idVendor == 0x2B77)
        ++*static_cast<int *>(seen);
    return 0;
}

} // namespace

int main()
{
    vusb::Bus &bus = vusb::Bus::instance();
    const auto root = bus.addRootHub(1);
    const auto hub = bus.addHub(root, 2);
    std::vector<vusb::NodeId> devices;
    for (uint8_t port = 1; port <= 3; ++port)
        devices.push_back(
            bus.plug(hub, port, vdev::NorbyDevice::make(0x3600, vdev::NorbyState::Application)));

    std::atomic<int> answered {0};
    std::atomic<bool> stop {false};
    int events = 0;
    libusb_hotplug_callback_handle callback = 0;
    libusb_hotplug_register_callback(nullptr,
        LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT, 0,
        LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, countEvent,
        &events, &callback);
    std::thread hotplug([&] {
        while (!stop) {
            timeval round {0, 100000};
            libusb_handle_events_timeout_completed(nullptr, &round, nullptr);
        }
    });
    std::vector<std::thread> workers;
    for (int i = 0; i < kWorkers; ++i)
        workers.emplace_back(work, std::ref(answered));
    std::thread chaos([&] {
        for (int i = 0; !stop; ++i) {
            const vusb::NodeId node = devices[static_cast<size_t>(i) % devices.size()];
            bus.unplug(node);
            std::this_thread::yield();
            bus.replug(node);
        }
    });
    for (std::thread &t : workers)
        t.join();
    stop = true;
    chaos.join();
    libusb_interrupt_event_handler(nullptr);
    hotplug.join();
    libusb_hotplug_deregister_callback(nullptr, callback);

    const std::string report = !answered ? "no device ever answered"
        : events == 0                    ? "no arrival or departure was handled"
                                         : bus.leakReport();
    std::printf("%d pings answered, %d arrivals and departures handled\n", answered.load(), events);
    if (!report.empty()) {
        std::printf("FAIL: %s\n", report.c_str());
        return 1;
    }
    bus.reset();
    std::printf("PASS\n");
    return 0;
}
