#include "repairdevice.h"

#include "companionport.h"
#include "driverinstall.h"
#include "fx3bootload.h"
#include "updatesteps.h"

#include <QCoreApplication>

namespace {

// Opens the restarted device on the port `search` names, under each sandbox id in turn. The
// sandbox microcode enumerates afresh, possibly without a usable driver, so a device that is
// there but refuses to open gets the driver installed and one more try before the next id.
// `installed` keeps the result of the last installation (0 also when none was tried).
bool openOnPort(UpdateRun &run, DeviceDescription &search, int &installed)
{
    for (const UsbId &id : run.sandboxIds) {
        search.vendorId = id.vendorId;
        search.productId = id.productId;
        run.device = OpenedDevice::open(search);
        if (run.device)
            return true;
        installed = install_winusb_driver();
        if (installed == 0) {
            run.device = OpenedDevice::open(search);
            if (run.device)
                return true;
        }
    }
    return false;
}

// "2-3.1": bus and port path as the device list's --port names them.
QString portText(const DeviceDescription &desc)
{
    QString text = QString::number(desc.busNumber) + '-';
    for (size_t i = 0; i < desc.portPath.size(); ++i)
        text += (i == 0 ? "" : ".") + QString::number(desc.portPath[i]);
    return text;
}

// Why the restarted device could not be opened, by the last driver installation's result.
QString reopenError(int installed, const DeviceDescription &desc, bool companion)
{
    if (installed == 0)
        return QCoreApplication::translate("Worker", "Error: Failed to init device for repair");
    if (installed == -2)
        return QCoreApplication::translate("Worker",
            "Access Denied: Administrative privilegies are required to access the device");
#ifdef __linux__
    // Linux installs no driver, so a failed installation is no answer: the device did not
    // come back where it was looked for.
    return companion ? QCoreApplication::translate("Worker",
               "Error: the device did not come back after its restart (port %1, "
               "nor its companion port)")
                           .arg(portText(desc))
                     : QCoreApplication::translate("Worker",
                         "Error: the device did not come back after its restart (port %1)")
                           .arg(portText(desc));
#else
    (void)desc;
    (void)companion;
    return QCoreApplication::translate("Worker", "Error: Failed to install driver");
#endif
}

// Finds the restarted device on its old port, or else on that port's SuperSpeed companion:
// the FX3 boot loader runs at high speed, and the sandbox microcode may connect at SuperSpeed,
// which a USB 3 port shows the host as a port on another bus.
bool reopenRestarted(UpdateRun &run, const DeviceDescription &desc)
{
    // Only the port stays: the restarted device is a new libusb_device with a new address
    // and another product id.
    DeviceDescription search = desc;
    search.device.reset();
    search.interfaceNumber = 0;
    search.deviceAddress = -1;

    int installed = 0;
    if (openOnPort(run, search, installed))
        return true;
    const std::optional<PortLocation> companion
        = usb_companion_port({desc.busNumber, desc.portPath});
    if (companion) {
        // A hub is above the device there too, so `parent` (matched only for being set)
        // stays as it is.
        search.busNumber = companion->busNumber;
        search.portPath = companion->portPath;
        if (openOnPort(run, search, installed))
            return true;
    }
    run.error(reopenError(installed, desc, companion.has_value()));
    return false;
}

} // namespace

int repairDevice(UpdateRun &run, ZipArchive &archive, const DeviceDescription &desc)
{
    const ProductInfo *product = run.product.info;
    if (!product)
        return -1;

    const int rc = downloadFx3BootImage(
        run.flashContext(), run.prepared.sandbox, run.prepared.sandboxMemberSize);
    if (rc < 0)
        return rc;

    // The device is gone from the bus while it boots the sandbox microcode; its old handle
    // is of no further use.
    UpdateRun::pause(run.pacing.restartWait);
    run.device.close();

    if (!reopenRestarted(run, desc))
        return -1;

    UpdateRun::pause(run.pacing.reopenPause);
    return runUpdateSteps(run, UpdatePlan::stepsStart(true), archive);
}
