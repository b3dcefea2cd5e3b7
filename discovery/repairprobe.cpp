#include "debuglog.h"
#include "deviceaddressing.h"
#include "probe.h"
#include "probesupport.h"
#include "usbhandle.h"

#include <QCoreApplication>
#include <QDebug>

using namespace probesupport;

namespace {

// The two repair states differ only in what they are called and in how a "not supported"
// open is treated.
struct RepairState {
    const char *probeName;
    DeviceMode mode;
    const char *modeText;
    bool hardRepair;
};

const RepairState SoftRepairState {
    "Probe Soft", SoftRepair, QT_TRANSLATE_NOOP("DeviceScanner", "Soft Repair Mode"), false};
const RepairState HardRepairState {
    "Probe Hard", HardRepair, QT_TRANSLATE_NOOP("DeviceScanner", "Hard Repair Mode"), true};

ProbeResult probeRepairState(
    libusb_device *device, DeviceDescription &desc, const RepairState &state)
{
    qCDebug(defaultLog) << state.probeName;
    libusb_device_descriptor descriptor {};
    if (libusb_get_device_descriptor(device, &descriptor) != 0)
        return ProbeResult::Error;
    logStringIds(descriptor);

    UsbHandle handle;
    const int opened = handle.open(device);
    // The boot loader never gets the driver for "not supported"; a soft-repair device gets it
    // once the scanner has seen every known device fail.
    const bool allowUnsupported = !state.hardRepair && desc.installDriverIfUnsupported;
    if (const auto fallback = openFailureFallback(opened, allowUnsupported))
        return *fallback;
    if (opened != 0) {
        if (state.hardRepair)
            qCDebug(defaultLog) << "Can't open device: (" << opened << ")"
                                << libusb_strerror(opened);
        else
            qCDebug(defaultLog) << "Can't open device:" << libusb_strerror(opened);
        return ProbeResult::Error;
    }

    const QString product = readString(handle.get(), descriptor.iProduct, "");
    const QString serial = readString(handle.get(), descriptor.iSerialNumber, NoSerial);

    device_addressing_fill(device, desc);
    desc.mode = state.mode;
    desc.interfaceNumber = 0;
    desc.product = product;
    desc.modeText = QCoreApplication::translate("DeviceScanner", state.modeText);
    desc.serial = serial;
    return ProbeResult::Success;
}

} // namespace

ProbeResult probeSoftRepair(libusb_device *device, DeviceDescription &desc)
{
    return probeRepairState(device, desc, SoftRepairState);
}

ProbeResult probeDirectUpdate(libusb_device *device, DeviceDescription &desc)
{
    // The sandbox keeps the soft-repair mode text: to the user it is still a device under
    // repair, only the update skips the boot loading.
    const ProbeResult result = probeSoftRepair(device, desc);
    if (result == ProbeResult::Success)
        desc.mode = DirectUpdate;
    return result;
}

ProbeResult probeHardRepair(libusb_device *device, DeviceDescription &desc)
{
    return probeRepairState(device, desc, HardRepairState);
}
