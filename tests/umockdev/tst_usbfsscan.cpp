// The scanner on the real libusb: devices in every state behind hubs, a kernel driver on the
// capture interface, a device node the process may not open, and the hotplug monitor fed by
// the test bed's uevents.

#include "hotplugmonitor.h"
#include "norbydevice.h"
#include "scanrecorder.h"
#include "tier.h"

#include <QtTest>

#include <memory>
#include <optional>

using testsupport::norby;
using vdev::NorbyDevice;
using vdev::NorbyState;

class tst_UsbfsScan : public tier::TierTestCase
{
    Q_OBJECT

private slots:
    // One device of each state the tool tells apart, behind the two halves of a USB 3 hub
    // (the boot loader runs at high speed): each is reported once with the strings it sends as
    // UTF-16, only the running capture devices are pinged, and the kernel driver of a capture
    // interface has it back afterwards. One more device's node the process may not open (a
    // desktop user without the udev rule): libusb reports access denied, the driver seam says
    // an administrator is needed, and the user is told so once; the rest of the pass still runs.
    void reportsEveryState()
    {
        const tier::Topology t = tier::Topology::build(bus());
        NorbyDevice::Config withSymbol;
        withSymbol.product = std::string("KESTREL3 \xC2\xB5"); // one character beyond ASCII
        withSymbol.version = std::string("3.4.0");
        const usbfs::NodeId app = bus().plug(t.hub3, 1, std::make_shared<NorbyDevice>(withSymbol));
        bus().setKernelDriver(app, "uvcvideo");
        const usbfs::NodeId audio = bus().plug(t.hub3, 2, norby(0x3620, NorbyState::Application));
        const usbfs::NodeId soft = bus().plug(t.hub3, 3, norby(0x3630, NorbyState::SoftRepair));
        const usbfs::NodeId sandbox = bus().plug(t.hub3, 4, norby(0x3640, NorbyState::Sandbox));
        const usbfs::NodeId boot = bus().plug(t.hub2, 1, norby(0x3660, NorbyState::BootLoader));
        const usbfs::NodeId early
            = bus().plug(t.root3, 1, norby(0x3600, NorbyState::Application, 0x5555));
        const usbfs::NodeId denied = bus().plug(t.root3, 2, norby(0x3600, NorbyState::Application));
        bus().denyAccess(denied);
        bus().replug(denied);
        tier::scriptDriverInstall({-2});

        std::unique_ptr<DeviceScanner> scanner;
        {
            const tier::WithoutFileOverride user;
            scanner = std::make_unique<DeviceScanner>();
        }
        testsupport::ScanRecorder rec(*scanner, true);
        emit scanner->scan();
        QVERIFY(rec.waitForCompletes(1));
        QCOMPARE(rec.events.filter("error: "),
            QStringList {"error: Access Denied: Administrative privilegies are required to "
                         "access the device"});
        rec.devices.sort();
        const QString repair = "|A1B2C3D4||Soft Repair Mode";
        QCOMPARE(rec.devices,
            QStringList({"04b4:00f3 bus 1 path 03.01 mode 2 caps 0 FX3 Boot Loader|FFFFFFFF||Hard "
                         "Repair Mode",
                "2b77:3601 bus 2 path 03.01 mode 0 caps 17 KESTREL3 ?|A1B2C3D4|3.4.0|",
                "2b77:3621 bus 2 path 03.02 mode 0 caps 1f KESTREL3|A1B2C3D4|3.2.1|",
                "2b77:3630 bus 2 path 03.03 mode 1 caps 0 KESTREL3" + repair,
                "2b77:364f bus 2 path 03.04 mode 3 caps 0 KESTREL3" + repair,
                "5555:3601 bus 2 path 01 mode 0 caps 17 KESTREL3|A1B2C3D4|3.2.1|"}));
        for (usbfs::NodeId node : {app, audio, early})
            QCOMPARE(tier::wire(bus(), node), QStringList {"c0 c8 0 0 1: 01 -> 1"});
        for (usbfs::NodeId node : {soft, sandbox, boot})
            QCOMPARE(tier::wire(bus(), node), QStringList());
        QCOMPARE(bus().calls(denied), std::vector<std::string>());
        QVERIFY(tier::libusbWarnings().join('\n').contains("errno=13"));
        QCOMPARE(tier::driverInstallCalls(), 1);

        // Pinged beside the video driver: neither detached nor claimed.
        QCOMPARE(
            tier::driverCalls(bus(), app), QStringList({"getdriver 0: uvcvideo", "urb c0 c8"}));
        QCOMPARE(bus().boundDriver(app), std::string("uvcvideo"));
        QCOMPARE(tier::driverCalls(bus(), audio),
            QStringList({"getdriver 0 -> ENODATA", "claim 0", "urb c0 c8", "release 0"}));
    }

    // libusb's hotplug callback, called for the "add" and "remove" uevents of the test bed: a
    // capture device's arrival and departure are reported (a hub's are not), and the scan each
    // one asks for lists what is there now.
    void followsThePlug()
    {
        const tier::Topology t = tier::Topology::build(bus());
        DeviceScanner scanner;
        testsupport::ScanRecorder rec(scanner);
        std::optional<HotplugMonitor> monitor;
        monitor.emplace();
        QVERIFY(QTest::qWaitFor([&] { return monitor->isWatching(); }, 5000));
        QSignalSpy events(&*monitor, &HotplugMonitor::deviceArrivedOrLeft);

        bus().addHub(t.root3, 2);
        const usbfs::NodeId node = bus().plug(t.hub3, 1, norby(0x3620, NorbyState::Application));
        QVERIFY(QTest::qWaitFor([&] { return events.count() == 1; }, 5000));
        emit scanner.scan();
        QVERIFY(rec.waitForCompletes(1));
        bus().unplug(node);
        QVERIFY(QTest::qWaitFor([&] { return events.count() == 2; }, 5000));
        emit scanner.scan();
        QVERIFY(rec.waitForCompletes(2));
        QCOMPARE(rec.events, QStringList({"device 3621", "complete", "complete"}));
        QCOMPARE(events.count(), 2);
        // Gone before libusb_exit, which the monitor's thread must not outlive.
        monitor.reset();
    }
};

QTEST_GUILESS_MAIN(tst_UsbfsScan)
#include "tst_usbfsscan.moc"
