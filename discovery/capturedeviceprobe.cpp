#include "controlrequest.h"
#include "debuglog.h"
#include "deviceaddressing.h"
#include "deviceplacelock.h"
#include "interfaceclaim.h"
#include "placebusytext.h"
#include "probe.h"
#include "probesupport.h"
#include "usbhandle.h"

#include <QDebug>

#include <chrono>

using namespace probesupport;

namespace {

// Every running capture device answers the FX3 flash-status request; the returned byte does
// not matter, an answer at all means the firmware is alive.
constexpr uint8_t PING = 0xC8;
// The application firmware keeps its version text at this string index, whatever its device
// descriptor lists.
constexpr uint8_t VersionStringIndex = 3;
constexpr int Interface = 0;
// A probe waits this long for another holder of the device's place (an update ends the wait
// at once): a request or another probe holds it for a few transfers.
constexpr std::chrono::milliseconds placeWait {1500};

// Firmware from major version 3 on keeps the three user video modes. Compared as a signed
// byte, so that letters and the library's '?' count as newer too.
bool hasUserModes(const QString &version)
{
    const char first = version.isEmpty() ? '\0' : version.at(0).toLatin1();
    return static_cast<signed char>(first) > '2';
}

// Pings the device: beside a kernel driver bound to the interface on Linux (usbfs passes a
// vendor request to the device without a claim, and a capture application keeps its video),
// else with the interface claimed. Success when the device answers.
ProbeResult ping(libusb_device_handle *handle)
{
    const int active = libusb_kernel_driver_active(handle, Interface);
    bool beside = false;
#ifdef __linux__
    beside = active == 1;
#endif
    bool detached = false;
    if (beside) {
        qCDebug(defaultLog) << "Kernel driver bound: ping beside it, interface not claimed";
    } else {
        // Anything but a clear "no kernel driver" (also "can't tell") gets a detach attempt;
        // only a driver that was actually detached is given back afterwards.
        detached = active != 0 && libusb_detach_kernel_driver(handle, Interface) == 0;
        qCDebug(defaultLog) << "Claim interface:" << Interface;
        // A busy interface is in use by another handle (claimInterfaceWhenFree waits a moment
        // for it): the probe fails without a driver installation, which cannot free it and on
        // Linux would only end in a false "Access Denied".
        const int claimed = claimInterfaceWhenFree(handle, Interface);
        if (claimed != 0) {
            qCDebug(defaultLog) << "Error claim usb interface: " << claimed;
            if (detached)
                libusb_attach_kernel_driver(handle, Interface);
            if (claimed == LIBUSB_ERROR_BUSY)
                return ProbeResult::Error;
            return openFailureFallback(claimed, true).value_or(ProbeResult::Error);
        }
    }
    uint8_t answer = 0;
    const int pinged = libusb_control_transfer(
        handle, ControlRequest::VendorIn, PING, 0, 0, &answer, 1, ControlRequest::TimeoutMs);
    // A kernel driver cannot take an interface that is still claimed, so the interface goes
    // first.
    if (!beside)
        libusb_release_interface(handle, Interface);
    if (detached)
        libusb_attach_kernel_driver(handle, Interface);
    qCDebug(defaultLog) << "Ping device:" << pinged;
    return pinged < 0 ? ProbeResult::Error : ProbeResult::Success;
}

} // namespace

ProbeResult probeCaptureDevice(libusb_device *device, DeviceDescription &desc)
{
    qCDebug(defaultLog) << "Probe KESTREL3/OSPREYX3/HARRIER3";
    libusb_device_descriptor descriptor {};
    if (libusb_get_device_descriptor(device, &descriptor) != 0)
        return ProbeResult::Error;
    logStringIds(descriptor);

    UsbHandle handle;
    const int opened = handle.open(device);
    if (opened != 0)
        return openFailureFallback(opened, true).value_or(ProbeResult::Error);

    const QString product = readString(handle.get(), descriptor.iProduct, "");
    const QString serial = readString(handle.get(), descriptor.iSerialNumber, NoSerial);
    const QString version = readString(handle.get(), VersionStringIndex, NoVersion);

    DeviceDescription where;
    device_addressing_fill(device, where);
    DevicePlaceLock place;
    if (place.acquire(DevicePlaceLock::placeName(where.busNumber, where.portPath),
            DevicePlaceLock::Probe, placeWait)
        == DevicePlaceLock::Outcome::Busy) {
        // A device being updated is listed as its descriptors show it, never pinged: the
        // update owns its requests until it ends.
        if (place.holder().purpose != DevicePlaceLock::Update) {
            qCDebug(defaultLog).noquote() << placeBusyText(place.holder());
            return ProbeResult::Error;
        }
        qCDebug(defaultLog) << "Device is being updated: listed without a ping";
    } else if (const ProbeResult pinged = ping(handle.get()); pinged != ProbeResult::Success) {
        return pinged;
    }

    device_addressing_fill(device, desc);
    desc.interfaceNumber = Interface;
    desc.mode = Normal;
    desc.product = product;
    desc.serial = serial;
    desc.version = version;
    desc.capabilities |= CapDeviceSettings | CapAspectRatio | CapPerformanceMode;
    if (hasUserModes(version))
        desc.capabilities |= CapUserModes;
    return ProbeResult::Success;
}

ProbeResult probeCaptureDeviceNoAspect(libusb_device *device, DeviceDescription &desc)
{
    const ProbeResult result = probeCaptureDevice(device, desc);
    if (result == ProbeResult::Success)
        desc.capabilities &= ~uint32_t(CapAspectRatio);
    return result;
}

ProbeResult probeCaptureDeviceWithAudio(libusb_device *device, DeviceDescription &desc)
{
    const ProbeResult result = probeCaptureDevice(device, desc);
    if (result == ProbeResult::Success)
        desc.capabilities |= CapAudioSelector;
    return result;
}
