#include "deviceopen.h"

#include "deviceaddressing.h"
#include "interfaceclaim.h"
#include "usbdevicelist.h"
#include "usblog.h"

#include <utility>

namespace {

// Searches the bus for the device that `desc` addresses. A matching device that refuses to
// open does not end the search: a second device on the same port (after a re-enumeration the
// old and the new object can both be listed for a moment) may still open. Returns the open
// handle, if any, and leaves the last matching device in `candidate`.
libusb_device_handle *searchAndOpen(
    const DeviceDescription &desc, UsbDeviceRef &candidate, bool &listed)
{
    usbProgressLog() << "Open device by adressing info\n";
    UsbDeviceList list;
    const ssize_t count = list.fetch();
    if (count < 0) {
        usbProgressLog() << "Can't get UBS device list: "
                         << libusb_error_name(static_cast<int>(count)) << "\n";
        listed = false;
        return nullptr;
    }
    listed = true;
    usbProgressLog() << "Found " << count << " devices. Start search..." << std::endl;

    for (ssize_t i = 0; i < count; ++i) {
        libusb_device *device = list.at(i);
        if (!device_addressing_match(device, desc))
            continue;
        candidate.reset(device);
        libusb_device_handle *handle = nullptr;
        const int rc = libusb_open(device, &handle);
        if (rc == 0) {
            usbProgressLog() << "Device found: id=" << i << std::endl;
            return handle;
        }
        usbErrorLog() << "Can't open device: id=" << i << ", code=" << rc << ", "
                      << libusb_error_name(rc) << ". Continue search..." << std::endl;
    }
    return nullptr;
}

// Finds and opens the device of `desc`, without touching its interface.
libusb_device_handle *openHandle(const DeviceDescription &desc)
{
    UsbDeviceRef candidate;
    libusb_device_handle *handle = nullptr;

    if (desc.device) {
        usbProgressLog() << "Open device by reference\n";
        candidate = desc.device;
    } else {
        bool listed = false;
        handle = searchAndOpen(desc, candidate, listed);
        if (!listed)
            return nullptr;
    }

    if (!candidate) {
        usbErrorLog() << "No device" << std::endl;
        return nullptr;
    }
    usbProgressLog() << "Device found. Opening..." << std::endl;

    // The list is gone by now; the candidate reference alone keeps the device object alive
    // for this last attempt.
    if (!handle && libusb_open(candidate.get(), &handle) != 0) {
        usbErrorLog() << "Can't open device" << std::endl;
        return nullptr;
    }
    usbProgressLog() << "Device opened." << std::endl;
    return handle;
}

// `active`: what libusb_kernel_driver_active said of the interface.
libusb_device_handle *claimOpened(
    libusb_device_handle *handle, const DeviceDescription &desc, int active)
{
    // Anything but a clear "no kernel driver" (including "can't tell") gets a detach attempt;
    // on platforms without kernel drivers the detach fails harmlessly.
    const bool detached
        = active != 0 && libusb_detach_kernel_driver(handle, desc.interfaceNumber) == 0;

    const int rc = claimInterfaceWhenFree(handle, desc.interfaceNumber);
    if (rc != 0) {
        usbErrorLog() << "Error claim usb interface: " << rc << "\n" << std::flush;
        // A driver taken away for nothing is given back, or the device would stay without
        // it (on Linux, no video) until it is replugged.
        if (detached)
            libusb_attach_kernel_driver(handle, desc.interfaceNumber);
        libusb_close(handle);
        return nullptr;
    }
    return handle;
}

} // namespace

libusb_device_handle *device_open(const DeviceDescription &desc)
{
    libusb_device_handle *handle = openHandle(desc);
    return handle
        ? claimOpened(handle, desc, libusb_kernel_driver_active(handle, desc.interfaceNumber))
        : nullptr;
}

libusb_device_handle *device_open_for_requests(const DeviceDescription &desc, DeviceAccess &access)
{
    access = DeviceAccess::Claimed;
    libusb_device_handle *handle = openHandle(desc);
    if (!handle)
        return nullptr;
    const int active = libusb_kernel_driver_active(handle, desc.interfaceNumber);
#ifdef __linux__
    // usbfs passes vendor requests to the device on an open file without a claim; only
    // standard and class requests to an interface need it. Detaching the video driver for them
    // would stop any capture running and renumber its video node.
    if (active == 1) {
        usbProgressLog() << "Kernel driver bound to interface " << desc.interfaceNumber
                         << ": requests go beside it, interface not claimed" << std::endl;
        access = DeviceAccess::BesideKernelDriver;
        return handle;
    }
#endif
    return claimOpened(handle, desc, active);
}

void device_close(libusb_device_handle *handle, const DeviceDescription &desc)
{
    if (!handle)
        return;
    // The interface goes back first: a kernel driver cannot take an interface that a handle
    // still claims, so attaching before the release would leave the device without its
    // kernel driver (on Linux, the video class driver) until it is replugged.
    libusb_release_interface(handle, desc.interfaceNumber);
    libusb_attach_kernel_driver(handle, desc.interfaceNumber);
    libusb_close(handle);
}

OpenedDevice::OpenedDevice(
    libusb_device_handle *handle, DeviceDescription desc, DeviceAccess access)
    : handle_(handle)
    , desc_(std::move(desc))
    , access_(access)
{
}

OpenedDevice::OpenedDevice(OpenedDevice &&other) noexcept
    : handle_(std::exchange(other.handle_, nullptr))
    , desc_(std::move(other.desc_))
    , access_(other.access_)
{
}

OpenedDevice &OpenedDevice::operator=(OpenedDevice &&other) noexcept
{
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, nullptr);
        desc_ = std::move(other.desc_);
        access_ = other.access_;
    }
    return *this;
}

OpenedDevice::~OpenedDevice()
{
    close();
}

OpenedDevice OpenedDevice::open(const DeviceDescription &desc)
{
    return OpenedDevice(device_open(desc), desc);
}

OpenedDevice OpenedDevice::openForRequests(const DeviceDescription &desc)
{
    DeviceAccess access = DeviceAccess::Claimed;
    libusb_device_handle *handle = device_open_for_requests(desc, access);
    return OpenedDevice(handle, desc, access);
}

void OpenedDevice::close()
{
    libusb_device_handle *handle = std::exchange(handle_, nullptr);
    // Beside a kernel driver nothing was claimed or detached: there is nothing to give back.
    if (handle && access_ == DeviceAccess::BesideKernelDriver)
        libusb_close(handle);
    else
        device_close(handle, desc_);
}
