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
// `pending` keeps the text of the last failed installation.
bool openOnPort(UpdateRun &run, DeviceDescription &search, QString &pending)
{
    for (const UsbId &id : run.sandboxIds) {
        search.vendorId = id.vendorId;
        search.productId = id.productId;
        run.device = OpenedDevice::open(search);
        if (run.device)
            return true;
        const int installed = install_winusb_driver();
        if (installed == 0) {
            pending.clear();
            run.device = OpenedDevice::open(search);
            if (run.device)
                return true;
        } else if (installed == -2) {
            pending = QCoreApplication::translate("Worker",
                "Access Denied: Administrative privilegies are required to access the device");
        } else {
            pending = QCoreApplication::translate("Worker", "Error: Failed to install driver");
        }
    }
    return false;
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

    QString pending;
    if (openOnPort(run, search, pending))
        return true;
    if (const std::optional<PortLocation> companion
        = usb_companion_port({desc.busNumber, desc.portPath})) {
        // A hub is above the device there too, so `parent` (matched only for being set)
        // stays as it is.
        search.busNumber = companion->busNumber;
        search.portPath = companion->portPath;
        if (openOnPort(run, search, pending))
            return true;
    }
    run.error(pending.isEmpty()
            ? QCoreApplication::translate("Worker", "Error: Failed to init device for repair")
            : pending);
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
