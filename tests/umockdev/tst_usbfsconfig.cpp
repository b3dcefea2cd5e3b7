// The configuration engine on the real libusb: reads and writes of the three blocks. Its
// failures are the virtual bus's (tst_config, the fault matrix) and both libusbs' (the exchange
// table's "leaves during a request" and "never answers").

#include "configdeviceactions.h"
#include "configdevicetask.h"
#include "configresults.h"
#include "norbydevice.h"
#include "scanrecorder.h"
#include "tier.h"

#include <QtTest>

#include <memory>

class tst_UsbfsConfig : public tier::TierTestCase
{
    Q_OBJECT

private slots:
    // Requests run in order, each with an open of its own, and a user mode the device does not
    // have is stalled. That the model keeps what it was sent: tst_soak.
    void readsAndWrites()
    {
        // Locals: the description's reference to the hub goes before the tier's checks.
        const auto model = vdev::NorbyDevice::make(0x3620, vdev::NorbyState::Application);
        const usbfs::NodeId node = bus().plug(tier::Topology::build(bus()).hub3, 2, model);
        const DeviceDescription desc = tier::describe(bus(), node);
        QVERIFY(desc.vendorId != 0);
        bus().locked([&] {
            model->settings().setFlags(0x16);
            model->settings().setUserMode(2, {0xE0, 0x01, 0x10, 0x01, 0x01});
        });
        // The results in arrival order, as text.
        QStringList lines;
        ConfigDeviceTask task;
        DeviceFlagsAction flags(&task);
        InputStatusAction input(&task);
        UserModeAction modes(&task);
        testsupport::recordConfigResults(
            task, &task, [&lines](uint8_t request, const QString &line) {
                lines << QString::number(request) + ' ' + line;
            });
        flags.get(desc);
        input.get(desc);
        modes.get(desc, 0xB3, 2);
        modes.set(desc, UserMode {640, 480, 0}, 0xB3, 1);
        flags.set(desc, 0x04);
        modes.get(desc, 0xB3, 3);
        QVERIFY(QTest::qWaitFor([&] { return lines.size() >= 7; }, 10000));

        const QString zeros = QByteArray(29, 0).toHex(' ');
        QCOMPARE(lines,
            QStringList({"226 get 16 1", "178 get " + zeros + " 29", "179 get e0 01 10 01 01 5",
                "179 set", "227 set",
                "179 error: Error retreiving config device data: req=179, status: Pipe error",
                "179 get null 0"}));
        QCOMPARE(tier::wire(bus(), node),
            QStringList({"c0 e2 0 0 1: 16 -> 1", "c0 b2 0 0 29: " + zeros + " -> 29",
                "c0 b3 0 2 5: e0 01 10 01 01 -> 5", "40 b3 0 1 5: 80 02 e0 01 00 -> 5",
                "40 e3 0 0 1: 04 -> 1", "c0 b3 0 3 5:  -> -9"}));
        const std::vector<std::string> calls = bus().calls(node);
        QCOMPARE(int(std::count(calls.begin(), calls.end(), "open")), 6);
    }

    // A capture application records through uvcvideo while the window scans, reads the settings
    // and polls the input signal: every request goes beside the driver, which is never
    // disconnected, and each is answered. The emulation refuses a class request on an interface
    // it holds (tst_usbfsrules), so a claim would show. LUMEXOR_TIER_MINUTE=1: a minute of
    // polling at the window's pace, its usbfs calls and transfers printed.
    void besideTheCaptureDriver()
    {
        const bool minute = qEnvironmentVariableIsSet("LUMEXOR_TIER_MINUTE");
        const auto model = vdev::NorbyDevice::make(0x3620, vdev::NorbyState::Application);
        const usbfs::NodeId node = bus().plug(tier::Topology::build(bus()).hub3, 2, model);
        bus().setKernelDriver(node, "uvcvideo");
        const DeviceDescription desc = tier::describe(bus(), node);
        DeviceScanner scanner;
        testsupport::ScanRecorder scans(scanner);
        ConfigDeviceTask task;
        DeviceFlagsAction flags(&task);
        InputStatusAction input(&task);
        QStringList lines;
        testsupport::recordConfigResults(
            task, &task, [&lines](uint8_t request, const QString &line) {
                lines << QString::number(request) + ' ' + line;
            });
        const auto answers = [&lines] { return int(lines.filter(" get ").size()); };
        QElapsedTimer clock;
        clock.start();
        const int cycles = minute ? 30 : 4;
        for (int cycle = 1; cycle <= cycles; ++cycle) {
            // One after another, as the window's ready state orders them: side by side they
            // would meet at the place lock, whose bounded wait a loaded machine can outlast.
            emit scanner.scan();
            QVERIFY(scans.waitForCompletes(cycle));
            flags.get(desc);
            QVERIFY(QTest::qWaitFor([&] { return answers() == 2 * cycle - 1; }, 10000));
            input.get(desc);
            QVERIFY(QTest::qWaitFor([&] { return answers() == 2 * cycle; }, 10000));
            if (minute)
                QTest::qWait(int(std::max<qint64>(0, 2000 * cycle - clock.elapsed())));
        }
        QCOMPARE(lines.filter(QRegularExpression("error|null")), QStringList());
        QCOMPARE(scans.devices.size(), cycles);
        QCOMPARE(
            tier::wire(bus(), node).filter(QRegularExpression(" -> (1|29)$")).size(), 3 * cycles);
        const QStringList calls = tier::driverCalls(bus(), node);
        QCOMPARE(calls.filter(QRegularExpression("connect|claim|release")), QStringList());
        QCOMPARE(bus().boundDriver(node), std::string("uvcvideo"));
        if (minute) {
            qInfo().noquote()
                << QString("%1 s of polling; usbfs calls:").arg(clock.elapsed() / 1000);
            for (const std::string &call : bus().calls(node))
                qInfo().noquote() << "  " << QString::fromStdString(call);
            qInfo().noquote() << "transfers:\n  " + tier::wire(bus(), node).join("\n  ");
        }
    }
};

QTEST_GUILESS_MAIN(tst_UsbfsConfig)
#include "tst_usbfsconfig.moc"
