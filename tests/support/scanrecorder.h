#pragma once

// Shared by the scanner's tests on the virtual bus (tests/discovery) and on the real libusb
// (tests/umockdev): the device models they plug, and a record of what a scanner says.

#include "devicescanner.h"
#include "norbydevice.h"

#include <QtTest>

#include <memory>
#include <optional>
#include <tuple>

namespace testsupport {

// `restart`: how it comes back after a restart, when not the model's usual way.
inline std::shared_ptr<vdev::NorbyDevice> norby(uint16_t family, vdev::NorbyState state,
    uint16_t vendorId = 0x2B77, std::optional<vdev::Reenumeration> restart = std::nullopt)
{
    vdev::NorbyDevice::Config config;
    std::tie(config.vendorId, config.familyId, config.state) = std::tie(vendorId, family, state);
    config.restart = restart.value_or(config.restart);
    return std::make_shared<vdev::NorbyDevice>(config);
}

// What a report says of a device and where it is, with `strings` what the user reads of it too;
// a report must hold the hub above the device and must not hold the device itself.
inline QString scanSummary(const DeviceDescription &d, bool strings = false)
{
    const QByteArray path(
        reinterpret_cast<const char *>(d.portPath.data()), int(d.portPath.size()));
    return QString::asprintf("%04x:%04x bus %d path %s mode %d caps %x", d.vendorId, d.productId,
               d.busNumber, path.toHex('.').constData(), d.mode, d.capabilities)
        + (strings ? ' ' + QStringList {d.product, d.serial, d.version, d.modeText}.join('|') : "")
        + (d.parent && !d.device ? "" : " references!");
}

// Everything a scanner says, in the order it arrives: "device <id>", "error: <text>" and
// "complete" in `events`, each device's scanSummary in `devices`.
class ScanRecorder : public QObject
{
public:
    explicit ScanRecorder(DeviceScanner &scanner, bool strings = false)
    {
        connect(
            &scanner, &DeviceScanner::newDevice, this, [this, strings](const DeviceDescription &d) {
                devices << scanSummary(d, strings);
                events << QStringLiteral("device %1").arg(d.productId, 0, 16);
                offThread = offThread || QThread::currentThread() != thread();
            });
        connect(&scanner, &DeviceScanner::error, this,
            [this](const QString &text) { events << "error: " + text; });
        connect(&scanner, &DeviceScanner::complete, this, [this] { events << "complete"; });
    }

    // True when `count` requests have completed within a bound, and no more.
    bool waitForCompletes(int count)
    {
        return QTest::qWaitFor([&] { return events.count("complete") >= count; }, 10000)
            && events.count("complete") == count;
    }

    QStringList devices;
    QStringList events;
    bool offThread = false;
};

} // namespace testsupport
