// The libusb-1.0 functions the product calls, implemented on the virtual bus with the
// signatures and results of <libusb.h>. Only the default (null) context exists.

#include "busstate.h"
#include "descriptors.h"

#include <libusb.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <thread>

using vusb::Bus;
using vusb::Node;

namespace {

Bus::State &state()
{
    return Bus::instance().state();
}

using Lock = std::lock_guard<std::mutex>;

// The largest data stage libusb's Linux backend sends in one control transfer.
constexpr uint16_t MaxControlData = 4096;

} // namespace

extern "C" {

// Defined by the drop-in library only, which builds its bus from a device file on the first
// start; the tests build theirs themselves and leave it undefined.
void lumexorVirtualBusStart() __attribute__((weak));

int LIBUSB_CALL libusb_init(libusb_context **ctx)
{
    if (lumexorVirtualBusStart)
        lumexorVirtualBusStart();
    Lock lock(state().mutex);
    ++state().initCount;
    if (ctx)
        *ctx = nullptr;
    return LIBUSB_SUCCESS;
}

void LIBUSB_CALL libusb_exit(libusb_context *)
{
    Lock lock(state().mutex);
    --state().initCount;
}

void LIBUSB_CALL libusb_set_debug(libusb_context *, int) { }

int LIBUSB_CALL libusb_set_option(libusb_context *, enum libusb_option, ...)
{
    return LIBUSB_SUCCESS;
}

ssize_t LIBUSB_CALL libusb_get_device_list(libusb_context *, libusb_device ***list)
{
    Bus::State &s = state();
    Lock lock(s.mutex);
    if (s.deviceListFailures != 0) {
        if (s.deviceListFailures > 0)
            --s.deviceListFailures;
        return s.deviceListError;
    }
    s.processArrivals();
    std::vector<libusb_device *> present;
    for (const auto &device : s.devices) {
        if (device->attached)
            present.push_back(device.get());
    }
    auto *array = new libusb_device *[present.size() + 1];
    for (size_t i = 0; i < present.size(); ++i) {
        array[i] = present[i];
        ++present[i]->apiRefs;
    }
    array[present.size()] = nullptr;
    s.lists.insert(array);
    *list = array;
    return static_cast<ssize_t>(present.size());
}

void LIBUSB_CALL libusb_free_device_list(libusb_device **list, int unref_devices)
{
    Bus::State &s = state();
    Lock lock(s.mutex);
    if (!list)
        return;
    if (s.lists.erase(list) == 0) {
        s.note("libusb_free_device_list: not a live list");
        return;
    }
    for (libusb_device **at = list; unref_devices && *at; ++at)
        s.releaseApiRef(*at);
    delete[] list;
}

libusb_device *LIBUSB_CALL libusb_ref_device(libusb_device *dev)
{
    Bus::State &s = state();
    Lock lock(s.mutex);
    if (s.usable(dev, "libusb_ref_device"))
        ++dev->apiRefs;
    return dev;
}

void LIBUSB_CALL libusb_unref_device(libusb_device *dev)
{
    Bus::State &s = state();
    Lock lock(s.mutex);
    if (!dev)
        return;
    if (!s.usable(dev, "libusb_unref_device"))
        return;
    if (dev->apiRefs == 0) {
        s.note("libusb_unref_device: releases a reference the caller does not hold");
        return;
    }
    s.releaseApiRef(dev);
}

int LIBUSB_CALL libusb_get_device_descriptor(
    libusb_device *dev, struct libusb_device_descriptor *desc)
{
    Bus::State &s = state();
    Lock lock(s.mutex);
    if (!s.usable(dev, "libusb_get_device_descriptor"))
        return LIBUSB_ERROR_INVALID_PARAM;
    if (const int error = s.faults(dev->node).descriptorError)
        return error;
    std::memset(desc, 0, sizeof *desc);
    desc->bLength = LIBUSB_DT_DEVICE_SIZE;
    desc->bDescriptorType = LIBUSB_DT_DEVICE;
    desc->bcdUSB = 0x0300;
    desc->bDeviceClass = dev->identity.deviceClass;
    desc->bMaxPacketSize0 = 9;
    desc->idVendor = dev->identity.vendorId;
    desc->idProduct = dev->identity.productId;
    desc->bcdDevice = dev->identity.bcdDevice;
    desc->iManufacturer = dev->identity.manufacturerIndex;
    desc->iProduct = dev->identity.productIndex;
    desc->iSerialNumber = dev->identity.serialIndex;
    desc->bNumConfigurations = 1;
    return LIBUSB_SUCCESS;
}

uint8_t LIBUSB_CALL libusb_get_bus_number(libusb_device *dev)
{
    Bus::State &s = state();
    Lock lock(s.mutex);
    return s.usable(dev, "libusb_get_bus_number") ? dev->busNumber : 0;
}

uint8_t LIBUSB_CALL libusb_get_port_number(libusb_device *dev)
{
    Bus::State &s = state();
    Lock lock(s.mutex);
    return s.usable(dev, "libusb_get_port_number") ? dev->portNumber : 0;
}

int LIBUSB_CALL libusb_get_port_numbers(
    libusb_device *dev, uint8_t *port_numbers, int port_numbers_len)
{
    Bus::State &s = state();
    Lock lock(s.mutex);
    if (!s.usable(dev, "libusb_get_port_numbers") || port_numbers_len <= 0)
        return LIBUSB_ERROR_INVALID_PARAM;
    if (dev->portPath.size() > static_cast<size_t>(port_numbers_len))
        return LIBUSB_ERROR_OVERFLOW;
    std::copy(dev->portPath.begin(), dev->portPath.end(), port_numbers);
    return static_cast<int>(dev->portPath.size());
}

libusb_device *LIBUSB_CALL libusb_get_parent(libusb_device *dev)
{
    Bus::State &s = state();
    Lock lock(s.mutex);
    return s.usable(dev, "libusb_get_parent") ? dev->parent : nullptr;
}

uint8_t LIBUSB_CALL libusb_get_device_address(libusb_device *dev)
{
    Bus::State &s = state();
    Lock lock(s.mutex);
    return s.usable(dev, "libusb_get_device_address") ? dev->address : 0;
}

int LIBUSB_CALL libusb_open(libusb_device *dev, libusb_device_handle **dev_handle)
{
    Bus::State &s = state();
    Lock lock(s.mutex);
    if (!s.usable(dev, "libusb_open"))
        return LIBUSB_ERROR_INVALID_PARAM;
    ++s.node(dev->node).openCalls;
    if (!dev->attached)
        return LIBUSB_ERROR_NO_DEVICE;
    vcore::Faults &faults = s.faults(dev->node);
    if (const int error = faults.onOpen())
        return error;
    if (faults.needsDriver)
        return LIBUSB_ERROR_NOT_SUPPORTED;
    auto handle = std::make_unique<libusb_device_handle>();
    handle->device = dev;
    s.ref(dev);
    *dev_handle = handle.get();
    s.handles.push_back(std::move(handle));
    return LIBUSB_SUCCESS;
}

void LIBUSB_CALL libusb_close(libusb_device_handle *dev_handle)
{
    Bus::State &s = state();
    Lock lock(s.mutex);
    if (!dev_handle)
        return;
    if (!s.usable(dev_handle, "libusb_close"))
        return;
    dev_handle->closed = true;
    dev_handle->claimed.clear();
    s.unrefInternal(dev_handle->device);
}

int LIBUSB_CALL libusb_control_transfer(libusb_device_handle *dev_handle, uint8_t request_type,
    uint8_t bRequest, uint16_t wValue, uint16_t wIndex, unsigned char *data, uint16_t wLength,
    unsigned int timeout)
{
    Bus::State &s = state();
    std::unique_lock<std::mutex> lock(s.mutex);
    std::chrono::microseconds answerTime {0};
    if (!s.usable(dev_handle, "libusb_control_transfer"))
        return LIBUSB_ERROR_INVALID_PARAM;
    // libusb's Linux backend refuses more data than fits one usbfs control buffer before
    // anything reaches the device.
    if (wLength > MaxControlData)
        return LIBUSB_ERROR_INVALID_PARAM;

    libusb_device *device = dev_handle->device;
    // usbfs takes a standard or class request to an interface only from a file that has
    // claimed it, and claims a free one on the way; one a kernel driver holds fails.
    if (device->attached) {
        if (const int refused = s.claimForRequest(dev_handle, request_type, wIndex))
            return refused;
    }
    vusb::TransferRecord record;
    record.node = device->node;
    record.requestType = request_type;
    record.request = bRequest;
    record.value = wValue;
    record.index = wIndex;
    record.length = wLength;
    record.timeout = timeout;
    const bool in = (request_type & LIBUSB_ENDPOINT_IN) != 0;
    if (!in && wLength > 0)
        record.data.assign(data, data + wLength);

    const vcore::NodeId id = device->node;
    vdev::UsbDeviceModel &model = *s.tree.at(id).model;
    vcore::Faults &faults = s.faults(id);
    int result = LIBUSB_ERROR_NO_DEVICE;
    if (device->attached) {
        result = faults.onRequest(bRequest);
        if (result == vcore::Unplug) {
            s.node(id).returning = false;
            s.detach(id);
            result = LIBUSB_ERROR_NO_DEVICE;
        } else if (result == vcore::Hold) {
            // Nobody answers: the caller's timeout ends the transfer, returned at once.
            result = LIBUSB_ERROR_TIMEOUT;
        } else if (result == 0) {
            std::vector<uint8_t> buffer(wLength);
            if (!in && wLength > 0)
                std::copy(data, data + wLength, buffer.begin());
            const vdev::ControlSetup setup {request_type, bRequest, wValue, wIndex, wLength};
            result = model.control(setup, buffer.data());
            if (s.wireBytesPerSecond)
                std::this_thread::sleep_for(std::chrono::nanoseconds(
                    (8 + uint64_t(wLength)) * 1000000000 / s.wireBytesPerSecond));
            if (in && result > 0) {
                const auto count = static_cast<size_t>(std::min<int>(result, wLength));
                std::copy(buffer.begin(), buffer.begin() + static_cast<long>(count), data);
                record.data.assign(buffer.begin(), buffer.begin() + static_cast<long>(count));
            }
            if (auto restart = model.takeReenumeration())
                s.scheduleReturn(id, *restart);
            answerTime = model.takeAnswerTime();
        }
        if (faults.onTransferDone()) {
            s.node(id).returning = false;
            s.detach(id);
        }
    }
    record.result = result;
    if (s.observer)
        s.observer(record, model);
    s.tree.record(std::move(record));
    // The device's own time passes with the bus free for the other devices' transfers.
    lock.unlock();
    if (answerTime.count() > 0)
        std::this_thread::sleep_for(answerTime);
    return result;
}

int LIBUSB_CALL libusb_get_string_descriptor_ascii(
    libusb_device_handle *dev_handle, uint8_t desc_index, unsigned char *data, int length)
{
    Bus::State &s = state();
    Lock lock(s.mutex);
    if (!s.usable(dev_handle, "libusb_get_string_descriptor_ascii"))
        return LIBUSB_ERROR_INVALID_PARAM;
    if (desc_index == 0 || length <= 0)
        return LIBUSB_ERROR_INVALID_PARAM;
    libusb_device *device = dev_handle->device;
    if (!device->attached)
        return LIBUSB_ERROR_NO_DEVICE;
    const vcore::Place &p = s.tree.at(device->node);
    auto fault = p.faults.stringErrors.find(desc_index);
    if (fault != p.faults.stringErrors.end())
        return fault->second;
    const std::optional<std::string> text = p.model->stringDescriptor(desc_index);
    if (!text)
        return LIBUSB_ERROR_PIPE;
    // The device sends the text as UTF-16, at most 126 code units in one descriptor; libusb
    // keeps ASCII as it is and writes '?' for every other code unit.
    const std::vector<uint16_t> units = vcore::stringUnits(*text);
    int written = 0;
    for (uint16_t unit : units) {
        if (written >= length - 1)
            break;
        data[written++] = unit < 0x80 ? static_cast<unsigned char>(unit) : '?';
    }
    data[written] = 0;
    return written;
}

} // extern "C"
