// Whole updates and repairs on the real libusb: both FPGA formats, the EDID, a soft repair and
// a boot-loader repair whose device comes back on the SuperSpeed companion of its port, and a
// device that leaves the bus in the middle of a run.

#include "driverscript.h"
#include "norbydevice.h"
#include "tier.h"
#include "updatepackages.h"

#include <QtTest>

using namespace std::chrono_literals;
using testsupport::bytesOf;
using testsupport::loadAddress;
using testsupport::patternBytes;
using vdev::NorbyState;

namespace {

// Small: every control request costs this tier some hundred microseconds.
const testsupport::PackageImages images {patternBytes(9000, 1), patternBytes(64 * 1024, 2)};
const DeviceMode modeOf[] = {Normal, SoftRepair, DirectUpdate, HardRepair};

// The device restarts without delay and this bus has it back before the restarting request
// completes, so the task need not wait for it.
QStringList run(const DeviceDescription &desc, const QString &path)
{
    return testsupport::runUpdate(desc, path, {0ms, 0ms, 0ms, 2000ms}, 30000);
}

} // namespace

Q_DECLARE_METATYPE(NorbyState)
Q_DECLARE_METATYPE(vdev::Arrival)

class tst_UsbfsUpdate : public tier::TierTestCase
{
    Q_OBJECT

    tier::Topology topology_;

    // A device of `family` in `state` at `where` ("hub3 2": behind the SuperSpeed hub, port
    // 2; "hub2 2": behind its high-speed half; "root2 1": the high-speed root port 1).
    std::shared_ptr<vdev::NorbyDevice> device(int family, NorbyState state, vdev::Arrival arrival,
        usbfs::NodeId &node, const QString &where)
    {
        vdev::NorbyDevice::Config config;
        config.familyId = uint16_t(family);
        config.state = state;
        config.restart = {0ms, arrival};
        auto model = std::make_shared<vdev::NorbyDevice>(config);
        const QMap<QString, usbfs::NodeId> hubs {
            {"hub3", topology_.hub3}, {"hub2", topology_.hub2}, {"root2", topology_.root2}};
        node = bus().plug(
            hubs.value(where.section(' ', 0, 0)), uint8_t(where.section(' ', 1).toInt()), model);
        return model;
    }

private slots:
    void init()
    {
        TierTestCase::init();
        topology_ = tier::Topology::build(bus());
    }

    // Each run ends with the package in the device's flash, the device where it is now, its
    // kernel driver given back, and exactly one completion.
    void updates_data()
    {
        QTest::addColumn<QString>("product");
        QTest::addColumn<int>("family");
        QTest::addColumn<NorbyState>("state");
        QTest::addColumn<vdev::Arrival>("arrival");
        QTest::addColumn<QString>("where");
        QTest::addColumn<bool>("withImages");
        QTest::addColumn<QString>("place"); // afterwards
        QTest::addColumn<int>("driverCalls");

        const auto row = [](const char *name, const char *product, int family, NorbyState state,
                             vdev::Arrival arrival, const char *where, bool withImages,
                             const char *place, int driverCalls) {
            QTest::newRow(name) << QString(product) << family << state << arrival << QString(where)
                                << withImages << QString(place) << driverCalls;
        };
        const auto same = vdev::Arrival::SamePort, companion = vdev::Arrival::CompanionPort;
        const NorbyState app = NorbyState::Application;
        row("framed FPGA image", "kestrel3", 0x3600, app, same, "hub3 2", true, "2-3.2", 0);
        row("plain FPGA image", "kestrel3_4k", 0x3630, app, same, "hub3 2", true, "2-3.2", 0);
        row("EDID alone", "harrier3", 0x3660, app, same, "hub3 1", false, "2-3.1", 0);
        row("soft repair", "kestrel3", 0x3600, NorbyState::SoftRepair, same, "hub3 4", true,
            "2-3.4", 0);
        // The boot loader runs at high speed, the sandbox at SuperSpeed: the device comes back
        // on the companion port, after both sandbox ids were looked for on the old one (with
        // a driver installation each, in vain).
        const NorbyState boot = NorbyState::BootLoader;
        row("boot loader behind a hub, back on the companion", "kestrel3_4k", 0x3630, boot,
            companion, "hub2 2", true, "2-3.2", 2);
        row("boot loader on a root port, back on the companion", "kestrel3", 0x3600, boot,
            companion, "root2 1", true, "2-1", 1);
    }

    void updates()
    {
        QFETCH(QString, product);
        QFETCH(int, family);
        QFETCH(NorbyState, state);
        QFETCH(vdev::Arrival, arrival);
        QFETCH(QString, where);
        QFETCH(bool, withImages);
        usbfs::NodeId node = -1;
        const auto model = device(family, state, arrival, node, where);
        bus().setKernelDriver(node, "uvcvideo");
        testsupport::ZipPackage package;
        const QString path
            = testsupport::writeUpdatePackage(package, product, withImages ? "" : "images", images);
        DeviceDescription desc = tier::describe(bus(), node);
        QVERIFY(desc.vendorId != 0);
        desc.mode = modeOf[int(state)];
        tier::scriptDriverInstall({});

        QStringList events = run(desc, path);
        QCOMPARE(events.filter("error"), QStringList());
        QCOMPARE(events.count("complete"), 1);
        QCOMPARE(events.mid(events.size() - 2), (QStringList {"100", "complete"}));
        QTEST(QString::fromStdString(bus().name(node)), "place");
        QTEST(tier::driverInstallCalls(), "driverCalls");
        bus().locked([&] {
            const vdev::NorbyFlash &flash = model->flash();
            QCOMPARE(bytesOf(flash.fx3Flash()), withImages ? images.microcode : QByteArray());
            QCOMPARE(bytesOf(flash.fpgaFlash()), withImages ? images.fpga : QByteArray());
            QCOMPARE(flash.edid(), images.edid);
            if (state != NorbyState::Application)
                QCOMPARE(bytesOf(model->bootLoader().ram(loadAddress, 600)), images.sandboxCode);
        });
        QCOMPARE(bus().enumerations(node), state == NorbyState::Application ? 1 : 2);
        // The open and the close of the device in the update kept the kernel driver's claim
        // in order: off before the claim, back after the release.
        const QStringList calls = tier::driverCalls(bus(), node);
        QCOMPARE(calls.mid(0, 3),
            QStringList(
                {"getdriver 0: uvcvideo", "getdriver 0: uvcvideo", "disconnect 0: uvcvideo"}));
        QCOMPARE(calls.last(), "connect 0: uvcvideo");
        QCOMPARE(bus().boundDriver(node), std::string("uvcvideo"));
    }

    // A device that leaves the bus in the middle of a run: the request in flight fails with
    // "no device", the user gets one error and the run one completion, and the run that was
    // cut short leaves the flash it was writing as it was.
    void unplugged_data()
    {
        QTest::addColumn<NorbyState>("state");
        QTest::addColumn<int>("request");
        QTest::addColumn<int>("occurrence");
        QTest::addColumn<QString>("error");
        QTest::newRow("microcode chunk")
            << NorbyState::Application << 0xC6 << 2
            << "Error: failed to write microcode block: No such device (it may have been "
               "disconnected)";
        QTest::newRow("FPGA piece") << NorbyState::Application << 0xC2 << 3
                                    << "Error: failed to write FPGA block:  LIBUSB_ERROR_NO_DEVICE";
        QTest::newRow("EDID") << NorbyState::Application << 0xD2 << 1
                              << "Can't send EDID data to the device (err: -4)";
        QTest::newRow("sandbox read-back")
            << NorbyState::SoftRepair << 0xA0 << 2
            << "Error: failed to write microcode: LIBUSB_ERROR_NO_DEVICE";
    }

    void unplugged()
    {
        QFETCH(NorbyState, state);
        QFETCH(int, request);
        QFETCH(int, occurrence);
        QFETCH(QString, error);
        usbfs::NodeId node = -1;
        const auto model = device(0x3600, state, vdev::Arrival::SamePort, node, "hub3 2");
        testsupport::ZipPackage package;
        const QString path = testsupport::writeUpdatePackage(package, "kestrel3", "", images);
        DeviceDescription desc = tier::describe(bus(), node);
        desc.mode = modeOf[int(state)];
        bus().unplugDuring(node, uint8_t(request), occurrence);

        const QStringList events = run(desc, path);
        QCOMPARE(events.filter("error: "), QStringList {"error: " + error});
        QCOMPARE(events.count("complete"), 1);
        QCOMPARE(events.last(), "complete");
        QVERIFY(!bus().attached(node));
        QCOMPARE(
            tier::wire(bus(), node).last().section(" -> ", 1), QString::number(vdev::NoDevice));
        bus().locked([&] {
            const vdev::NorbyFlash &flash = model->flash();
            QCOMPARE(flash.fx3Commits(), request == 0xC6 || request == 0xA0 ? 0 : 1);
            QCOMPARE(flash.fpgaCommits(), request == 0xD2 ? 1 : 0);
            QCOMPARE(flash.edidCommits(), 0);
        });
    }
};

QTEST_GUILESS_MAIN(tst_UsbfsUpdate)
#include "tst_usbfsupdate.moc"
