// Whole updates and repairs on the real libusb: both FPGA formats, the EDID, a soft repair and
// a boot-loader repair whose device comes back on the SuperSpeed companion of its port, and a
// device that leaves the bus in the middle of a run.

#include "bootimage.h"
#include "bytes.h"
#include "driverscript.h"
#include "edidtext.h"
#include "norbydevice.h"
#include "producttable.h"
#include "tier.h"
#include "updatetask.h"
#include "zippackage.h"

#include <QtTest>

using namespace std::chrono_literals;
using testsupport::bytesOf;
using testsupport::patternBytes;
using vdev::NorbyState;

namespace {

constexpr uint32_t loadAddress = 0x40000000;
const QByteArray microcode = patternBytes(9000, 1);
// Small: every control request costs this tier some hundred microseconds.
const QByteArray fpga = patternBytes(64 * 1024, 2);
const QByteArray sandboxCode = patternBytes(600, 3);
const std::vector<uint8_t> edid = testsupport::makeEdid(2, 4);
const DeviceMode modeOf[] = {Normal, SoftRepair, DirectUpdate, HardRepair};

// A package for `product`, without its images when `images` is false.
QString writePackage(testsupport::ZipPackage &package, const QString &product, bool images)
{
    const ProductInfo &row = productTable.at(product.toStdString());
    package.add("product.info", product.toUtf8() + "\n");
    if (images) {
        package.add(row.microcodeImage, microcode);
        package.add(row.fpgaImage, fpga, testsupport::ZipPackage::Deflated);
        package.add(row.sandboxImage, testsupport::bootImage({{loadAddress, sandboxCode}}, 0x40));
    }
    if (!row.edidFile.empty())
        package.add(row.edidFile, testsupport::edidText(edid));
    return package.write();
}

// One run through a task of its own, gone (its thread joined) on return: the signals in
// order, progress as numbers, "error: " with the text, and "complete". The device restarts
// without delay and this bus has it back before the restarting request completes, so the
// task need not wait for it.
QStringList run(const DeviceDescription &desc, const QString &path)
{
    QStringList events;
    UpdateTask task(nullptr, {0ms, 0ms, 0ms, 2000ms});
    QObject::connect(&task, &UpdateTask::progress, [&](int p) { events << QString::number(p); });
    QObject::connect(&task, &UpdateTask::error, [&](const QString &t) { events << "error: " + t; });
    QObject::connect(&task, &UpdateTask::complete, [&] { events << "complete"; });
    emit task.start(desc, path);
    if (!QTest::qWaitFor([&] { return events.contains("complete"); }, 30000))
        events << "no completion within 30 s";
    return events;
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
        QTest::addColumn<bool>("images");
        QTest::addColumn<QString>("place"); // afterwards
        QTest::addColumn<int>("driverCalls");

        const auto same = vdev::Arrival::SamePort, companion = vdev::Arrival::CompanionPort;
        const NorbyState app = NorbyState::Application;
        QTest::newRow("framed FPGA image")
            << "kestrel3" << 0x3600 << app << same << "hub3 2" << true << "2-3.2" << 0;
        QTest::newRow("plain FPGA image")
            << "kestrel3_4k" << 0x3630 << app << same << "hub3 2" << true << "2-3.2" << 0;
        QTest::newRow("EDID alone")
            << "harrier3" << 0x3660 << app << same << "hub3 1" << false << "2-3.1" << 0;
        QTest::newRow("soft repair") << "kestrel3" << 0x3600 << NorbyState::SoftRepair << same
                                     << "hub3 4" << true << "2-3.4" << 0;
        // The boot loader runs at high speed, the sandbox at SuperSpeed: the device comes back
        // on the companion port, after both sandbox ids were looked for on the old one (with
        // a driver installation each, in vain).
        QTest::newRow("boot loader behind a hub, back on the companion")
            << "kestrel3_4k" << 0x3630 << NorbyState::BootLoader << companion << "hub2 2" << true
            << "2-3.2" << 2;
        QTest::newRow("boot loader on a root port, back on the companion")
            << "kestrel3" << 0x3600 << NorbyState::BootLoader << companion << "root2 1" << true
            << "2-1" << 1;
    }

    void updates()
    {
        QFETCH(QString, product);
        QFETCH(int, family);
        QFETCH(NorbyState, state);
        QFETCH(vdev::Arrival, arrival);
        QFETCH(QString, where);
        QFETCH(bool, images);
        QFETCH(QString, place);
        QFETCH(int, driverCalls);
        usbfs::NodeId node = -1;
        const auto model = device(family, state, arrival, node, where);
        bus().setKernelDriver(node, "uvcvideo");
        testsupport::ZipPackage package;
        const QString path = writePackage(package, product, images);
        DeviceDescription desc = tier::describe(bus(), node);
        QVERIFY(desc.vendorId != 0);
        desc.mode = modeOf[int(state)];
        tier::scriptDriverInstall({});

        QStringList events = run(desc, path);
        QCOMPARE(events.filter("error"), QStringList());
        QCOMPARE(events.count("complete"), 1);
        QCOMPARE(events.mid(events.size() - 2), (QStringList {"100", "complete"}));
        QCOMPARE(tier::place(bus(), node), place);
        QCOMPARE(tier::driverInstallCalls(), driverCalls);
        bus().locked([&] {
            const vdev::NorbyFlash &flash = model->flash();
            QCOMPARE(bytesOf(flash.fx3Flash()), images ? microcode : QByteArray());
            QCOMPARE(bytesOf(flash.fpgaFlash()), images ? fpga : QByteArray());
            QCOMPARE(flash.edid(), edid);
            if (state != NorbyState::Application)
                QCOMPARE(bytesOf(model->bootLoader().ram(loadAddress, 600)), sandboxCode);
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
        const QString path = writePackage(package, "kestrel3", true);
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
