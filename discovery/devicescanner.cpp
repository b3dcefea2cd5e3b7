#include "devicescanner.h"

#include "accesshinttext.h"
#include "debuglog.h"
#include "probetable.h"
#include "usbdevicelist.h"

#include <QCoreApplication>
#include <QDebug>
#include <QVector>
#include <libusb.h>

#include <algorithm>
#include <vector>

namespace {

// A driver installed in one pass needs another pass to probe that device; a pass in which
// every known device failed is repeated once with the driver installation extended to
// "not supported" repair devices. Bounded, so a device that never settles cannot keep the
// scan going.
constexpr int MaxPasses = 3;

struct PassOutcome {
    bool descriptorFailed = false;
    int matched = 0;
    int failed = 0;
    bool driverInstalled = false;
    bool accessDenied = false;
};

// Two descriptions of one device found in different passes of a scan. The library references
// and the install flag (which changes between passes) are left out; so are the capabilities,
// which follow from the rest.
bool sameDevice(const DeviceDescription &a, const DeviceDescription &b)
{
    // The place on the bus first: it tells most devices apart in one comparison.
    return a.busNumber == b.busNumber && a.deviceAddress == b.deviceAddress
        && a.portNumber == b.portNumber && a.portPath == b.portPath && a.vendorId == b.vendorId
        && a.productId == b.productId && a.interfaceNumber == b.interfaceNumber && a.mode == b.mode
        && a.product == b.product && a.serial == b.serial && a.version == b.version
        && a.modeText == b.modeText;
}

class Worker : public QObject
{
    Q_OBJECT

signals:
    // The new devices of a pass, in the order found. One signal a pass rather than one a
    // device: each queued signal wakes the scanner's thread, and waking it per device took
    // longer than probing the device.
    void devicesFound(const QVector<DeviceDescription> &found);
    void error(const QString &text);
    void scanComplete();

public slots:
    void scanDevices();

private:
    PassOutcome runPass(
        const UsbDeviceList &list, bool installDriver, std::vector<DeviceDescription> &reported);
};

void Worker::scanDevices()
{
    qCDebug(defaultLog) << "Scan devices";
    std::vector<DeviceDescription> reported;
    bool installDriver = false;

    for (int pass = 0; pass < MaxPasses; ++pass) {
        UsbDeviceList list;
        const ssize_t count = list.fetch();
        if (count < 0) {
            qCDebug(defaultLog) << "Can't get UBS device list"
                                << libusb_error_name(static_cast<int>(count));
            break;
        }
        if (count == 0)
            break;

        const PassOutcome outcome = runPass(list, installDriver, reported);
        if (outcome.descriptorFailed || outcome.accessDenied)
            break;
        if (outcome.driverInstalled) {
            installDriver = false;
            continue;
        }
        if (installDriver || outcome.matched == 0 || outcome.failed < outcome.matched)
            break;
        installDriver = true;
    }
    emit scanComplete();
}

PassOutcome Worker::runPass(
    const UsbDeviceList &list, bool installDriver, std::vector<DeviceDescription> &reported)
{
    PassOutcome outcome;
    QVector<DeviceDescription> found;
    const auto flush = [&] {
        if (!found.isEmpty())
            emit devicesFound(found);
        found.clear();
    };
    for (ssize_t i = 0; i < list.size(); ++i) {
        libusb_device *device = list.at(i);
        libusb_device_descriptor descriptor {};
        if (libusb_get_device_descriptor(device, &descriptor) != 0) {
            outcome.descriptorFailed = true;
            flush();
            return outcome;
        }
        qCDebug(defaultLog).noquote() << "check device" << QString::number(descriptor.idVendor, 16)
                                      << "/" << QString::number(descriptor.idProduct, 16);

        const ProbeEntry *entry = findProbe(descriptor.idVendor, descriptor.idProduct);
        if (!entry)
            continue;
        ++outcome.matched;

        DeviceDescription desc;
        desc.installDriverIfUnsupported = installDriver;
        switch (entry->probe(device, desc)) {
        case ProbeResult::Success: {
            const bool seen = std::any_of(reported.begin(), reported.end(),
                [&](const DeviceDescription &other) { return sameDevice(other, desc); });
            if (!seen) {
                // The copy kept for the comparison holds its references until the scan ends.
                reported.push_back(desc);
                found.push_back(std::move(desc));
            }
            break;
        }
        case ProbeResult::DriverInstalled:
            outcome.driverInstalled = true;
            break;
        case ProbeResult::AccessDenied:
            flush();
            emit error(withAccessHint(QCoreApplication::translate("Worker",
                                          "Access Denied: Administrative privilegies are "
                                          "required to access the device"),
                libusb_get_bus_number(device), libusb_get_device_address(device)));
            outcome.accessDenied = true;
            break;
        case ProbeResult::Error:
        default:
            ++outcome.failed;
            break;
        }
    }
    flush();
    return outcome;
}

} // namespace

DeviceScanner::DeviceScanner(QObject *parent)
    : QObject(parent)
{
    // The description crosses to the caller's thread by value in a queued signal.
    registerUsbMetaTypes();
    qRegisterMetaType<QVector<DeviceDescription>>();

    auto *worker = new Worker;
    worker->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &Worker::scanComplete, this, &DeviceScanner::complete);
    connect(worker, &Worker::devicesFound, this, [this](const QVector<DeviceDescription> &found) {
        for (const DeviceDescription &desc : found)
            emit newDevice(desc);
    });
    connect(worker, &Worker::error, this, &DeviceScanner::error);
    connect(this, &DeviceScanner::scan, worker, &Worker::scanDevices);
    thread_.start(QThread::InheritPriority);
}

DeviceScanner::~DeviceScanner()
{
    thread_.quit();
    thread_.wait();
}

#include "devicescanner.moc"
