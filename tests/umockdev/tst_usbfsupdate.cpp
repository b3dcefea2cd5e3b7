// Whole updates on the real libusb: an application device's update with a kernel driver on its
// interface, and boot-loader repairs whose device comes back on the SuperSpeed companion of its
// port as Linux's sysfs names it. The other shapes of a run, and a device that leaves in the
// middle of one, are the virtual bus's (tests/update, tests/faults): libusb answers there as here
// (tst_usbfsrules).

#include "norbydevice.h"
#include "tier.h"
#include "updatepackages.h"

#include <QtTest>

using namespace std::chrono_literals;
using testsupport::bytesOf;
using vdev::NorbyState;

class tst_UsbfsUpdate : public tier::TierTestCase
{
    Q_OBJECT

private slots:
    // Each run ends with the package in the device's flash, the device where it is now, its
    // kernel driver given back, and exactly one completion.
    void updates_data()
    {
        QTest::addColumn<QString>("product");
        QTest::addColumn<int>("family");
        QTest::addColumn<bool>("bootLoader");
        QTest::addColumn<QString>("where"); // "hub3 2": the SuperSpeed hub's port 2, and so on
        QTest::addColumn<QString>("place"); // afterwards
        QTest::addColumn<int>("driverCalls");
        QTest::newRow("framed FPGA image") << "kestrel3" << 0x3600 << false << "hub3 2"
                                           << "2-3.2" << 0;
        // The boot loader runs at high speed, the sandbox at SuperSpeed: the device comes back
        // on the companion port, after both sandbox ids were looked for on the old one (with
        // a driver installation each, in vain).
        QTest::newRow("boot loader behind a hub, back on the companion")
            << "kestrel3_4k" << 0x3630 << true << "hub2 2"
            << "2-3.2" << 2;
        QTest::newRow("boot loader on a root port, back on the companion")
            << "kestrel3" << 0x3600 << true << "root2 1"
            << "2-1" << 1;
    }

    void updates()
    {
        QFETCH(QString, product);
        QFETCH(int, family);
        QFETCH(bool, bootLoader);
        QFETCH(QString, where);
        const tier::Topology t = tier::Topology::build(bus());
        vdev::NorbyDevice::Config config;
        config.familyId = uint16_t(family);
        config.state = bootLoader ? NorbyState::BootLoader : NorbyState::Application;
        config.restart = {0ms, bootLoader ? vdev::Arrival::CompanionPort : vdev::Arrival::SamePort};
        const auto model = std::make_shared<vdev::NorbyDevice>(config);
        const QMap<QString, usbfs::NodeId> hubs {
            {"hub3", t.hub3}, {"hub2", t.hub2}, {"root2", t.root2}};
        const usbfs::NodeId node = bus().plug(
            hubs.value(where.section(' ', 0, 0)), uint8_t(where.section(' ', 1).toInt()), model);
        bus().setKernelDriver(node, "uvcvideo");
        // Small: every control request costs this tier some hundred microseconds.
        const testsupport::PackageImages images {
            testsupport::patternBytes(9000, 1), testsupport::patternBytes(64 * 1024, 2)};
        testsupport::ZipPackage package;
        const QString path = testsupport::writeUpdatePackage(package, product, "", images);
        DeviceDescription desc = tier::describe(bus(), node);
        QVERIFY(desc.vendorId != 0);
        desc.mode = bootLoader ? HardRepair : Normal;

        // The device restarts without delay and this bus has it back before the restarting
        // request completes, so the task need not wait for it.
        const QStringList events
            = testsupport::runUpdate(desc, path, {0ms, 0ms, 0ms, 2000ms}, 30000);
        QCOMPARE(events.filter("error"), QStringList());
        QCOMPARE(events.count("complete"), 1);
        QCOMPARE(events.mid(events.size() - 2), (QStringList {"100", "complete"}));
        QTEST(QString::fromStdString(bus().name(node)), "place");
        QTEST(tier::driverInstallCalls(), "driverCalls");
        bus().locked([&] {
            const vdev::NorbyFlash &flash = model->flash();
            QCOMPARE(bytesOf(flash.fx3Flash()), images.microcode);
            QCOMPARE(bytesOf(flash.fpgaFlash()), images.fpga);
            QCOMPARE(flash.edid(), images.edid);
            if (bootLoader)
                QCOMPARE(bytesOf(model->bootLoader().ram(testsupport::loadAddress, 600)),
                    images.sandboxCode);
        });
        QCOMPARE(bus().enumerations(node), bootLoader ? 2 : 1);
        // The open and the close of the device in the update kept the kernel driver's claim
        // in order: off before the claim, back after the release.
        const QStringList calls = tier::driverCalls(bus(), node);
        QCOMPARE(calls.mid(0, 3),
            QStringList(
                {"getdriver 0: uvcvideo", "getdriver 0: uvcvideo", "disconnect 0: uvcvideo"}));
        QCOMPARE(calls.last(), "connect 0: uvcvideo");
        QCOMPARE(bus().boundDriver(node), std::string("uvcvideo"));
    }
};

QTEST_GUILESS_MAIN(tst_UsbfsUpdate)
#include "tst_usbfsupdate.moc"
