#include "bootimage.h"
#include "bustestcase.h"
#include "edidtext.h"
#include "norbydevice.h"
#include "producttable.h"
#include "updatetask.h"
#include "zippackage.h"

#include <QtTest>

using namespace testsupport;
using namespace std::chrono_literals;
using vdev::NorbyState;

namespace {

const QByteArray microcode = patternBytes(5000, 1);
const QByteArray fpga = patternBytes(10000, 2);
const QByteArray sandboxCode = patternBytes(600, 3);
const std::vector<uint8_t> edid = makeEdid(2, 4);
constexpr uint32_t sandboxAddress = 0x40000000;
// By NorbyState: Application, SoftRepair, Sandbox, BootLoader.
const DeviceMode modeOf[] = {Normal, SoftRepair, DirectUpdate, HardRepair};

QByteArray bytes(const std::vector<uint8_t> &v)
{
    return QByteArray(reinterpret_cast<const char *>(v.data()), int(v.size()));
}

// A device plugged in the state of `state` and a package for `product`. `setup` names what
// to change: members left out ("images", "sandbox", "edid"), "encrypted" sandbox,
// "unsupported" product.info, "no package", a device "never" coming back after its restart.
struct Rig {
    Rig(const QString &product, int family, NorbyState state, const QString &setup)
    {
        const ProductInfo &row = productTable.at(product.toStdString());
        if (setup == "unsupported")
            package.add("product.info", "kestrel3\r\n");
        else if (product != "legacy")
            package.add("product.info", product.toUtf8() + "\n");
        if (!setup.contains("images")) {
            package.add(row.microcodeImage, microcode);
            package.add(row.fpgaImage, fpga, ZipPackage::Deflated);
            if (setup != "sandbox")
                package.add(row.sandboxImage, bootImage({{sandboxAddress, sandboxCode}}, 0x40),
                    setup == "encrypted" ? ZipPackage::Encrypted : ZipPackage::Stored);
        }
        if (!row.edidFile.empty())
            package.add(row.edidFile, QByteArray::fromStdString(edidText(edid)));
        path = setup == "no package" ? package.folder() + "/missing.fw" : package.write();

        vdev::NorbyDevice::Config config;
        config.familyId = uint16_t(family);
        config.state = state;
        if (setup.startsWith("never"))
            config.restart.arrival = vdev::Arrival::Never;
        device = std::make_shared<vdev::NorbyDevice>(config);
        node = bus.plug(Topology::build().hub, 2, device);
        desc = describe(node);
        desc.mode = modeOf[int(state)];
    }

    // One run through a task of its own, which is gone (its thread joined) on return: the
    // signals in order, progress as numbers, "error: " with the text, and "complete".
    QStringList run()
    {
        QStringList events;
        UpdateTask task(nullptr, {0ms, 100ms, 0ms, 2000ms}); // the device restarts in 20 ms
        QObject::connect(
            &task, &UpdateTask::progress, [&](int p) { events << QString::number(p); });
        QObject::connect(
            &task, &UpdateTask::error, [&](const QString &t) { events << "error: " + t; });
        QObject::connect(&task, &UpdateTask::complete, [&] { events << "complete"; });
        QSignalSpy done(&task, &UpdateTask::complete);
        emit task.start(desc, path);
        for (int i = 0; i < 100 && done.isEmpty(); ++i)
            done.wait(100);
        return events;
    }

    vusb::Bus &bus = vusb::Bus::instance();
    ZipPackage package;
    QString path;
    std::shared_ptr<vdev::NorbyDevice> device;
    vusb::NodeId node = -1;
    DeviceDescription desc;
};

} // namespace

Q_DECLARE_METATYPE(NorbyState)

class tst_UpdateTask : public testsupport::BusTestCase
{
    Q_OBJECT

private slots:
    void updates_data()
    {
        QTest::addColumn<QString>("product");
        QTest::addColumn<int>("family");
        QTest::addColumn<NorbyState>("state");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QList<int>>("ends"); // ends of the steps before the last
        QTest::addColumn<int>("driverCalls");

        const auto row = [](const char *name, const char *product, int family, NorbyState state,
                             const char *setup, QList<int> ends, int driverCalls = 0) {
            QTest::newRow(name) << QString(product) << family << state << QString(setup) << ends
                                << driverCalls;
        };
        const NorbyState app = NorbyState::Application;
        const NorbyState soft = NorbyState::SoftRepair;
        const NorbyState boot = NorbyState::BootLoader;
        row("legacy", "legacy", 0x3600, app, "", {34, 66});
        row("kestrel3", "kestrel3", 0x3600, app, "", {34, 66});
        row("ospreyx3", "ospreyx3", 0x3620, app, "", {51});
        row("kestrel3_4k, plain FPGA", "kestrel3_4k", 0x3630, app, "", {34, 66});
        row("harrier3", "harrier3", 0x3660, app, "", {34, 66});
        row("EDID only", "harrier3", 0x3660, app, "images", {21});
        row("sandbox running", "kestrel3", 0x3600, NorbyState::Sandbox, "", {34, 66});
        row("soft repair", "kestrel3", 0x3600, soft, "", {43, 71});
        row("soft repair, back without driver", "ospreyx3", 0x3620, soft, "needs driver", {57}, 1);
        // The 4K sandbox ids are tried in set order: the 0x3640 device answers to the second
        // one, after a driver installation for the first.
        row("hard repair, 4K 0x3630", "kestrel3_4k", 0x3630, boot, "", {43, 71});
        row("hard repair, 4K 0x3640", "kestrel3_4k", 0x3640, boot, "", {43, 71}, 1);
    }

    void updates()
    {
        QFETCH(QString, product);
        QFETCH(int, family);
        QFETCH(NorbyState, state);
        QFETCH(QString, setup);
        QFETCH(QList<int>, ends);
        QFETCH(int, driverCalls);
        Rig rig(product, family, state, setup);
        if (setup == "needs driver") {
            rig.bus.requireDriverAfterRestart(rig.node);
            rig.bus.scriptDriverInstall({0});
        }

        QStringList events = rig.run();
        QCOMPARE(events.takeLast(), "complete");
        QList<int> values;
        for (const QString &event : events)
            values << (event.startsWith("error") ? -1 : event.toInt());
        QCOMPARE(values.mid(0, 2), (QList<int> {1, 2}));
        QCOMPARE(values.last(), 100);
        QVERIFY2(std::is_sorted(values.begin(), values.end()), qPrintable(events.join(' ')));
        for (int end : ends)
            QVERIFY2(values.contains(end), qPrintable(QString::number(end)));

        vdev::NorbyFlash &flash = rig.device->flash();
        const bool edidOnly = setup == "images";
        QCOMPARE(bytes(flash.fx3Flash()), edidOnly ? QByteArray() : microcode);
        QCOMPARE(bytes(flash.fpgaFlash()), edidOnly ? QByteArray() : fpga);
        QCOMPARE(flash.edid(), product == "ospreyx3" ? std::vector<uint8_t>() : edid);
        QCOMPARE(rig.bus.openHandles(), 0);
        QCOMPARE(rig.bus.driverInstallCalls(), driverCalls);
        if (rig.desc.mode == SoftRepair || rig.desc.mode == HardRepair) {
            QCOMPARE(bytes(rig.device->bootLoader().ram(sandboxAddress, 600)), sandboxCode);
            QVERIFY(values.at(2) > 2 && values.at(2) <= 15); // the download's own progress
        }
        // The restarted device refuses twice (the search and its last try), then opens after
        // the driver installation.
        if (setup == "needs driver")
            QCOMPARE(rig.bus.openCalls(rig.node), 1 + 2 + 1);
    }

    void fails_data()
    {
        QTest::addColumn<NorbyState>("state");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("head"); // progress before the error; "+": and the steps'
        QTest::addColumn<QString>("error");
        const auto row = [](const char *setup, NorbyState state, const char *head, QString error) {
            QTest::newRow(setup) << state << QString(setup) << QString(head) << error;
        };
        const NorbyState app = NorbyState::Application;
        const NorbyState soft = NorbyState::SoftRepair;
        row("no package", app, "", "Cannot open firmware package: No such file");
        row("unsupported", app, "1", "Unsupported product: 'kestrel3\r'");
        row("sandbox", app, "1",
            "Invalid firmware package. File(s) not found: kestrel3-sandbox.img");
        row("incompatible", app, "1", "Selected device and firmware incompatible");
        row("open fails", app, "1 2",
            "Cannot Access Device. Administrative privilegies may be required");
        row("fault c1", app, "1 2 +", "Error: failed to start FPGA reflashing: LIBUSB_ERROR_PIPE");
        row("fault cf", app, "1 2 +", "Can't initiate EDID IO access (err: -9)");
        row("encrypted", soft, "1 2",
            "Error: failed to open sandbox microcode: kestrel3-sandbox.img");
        row("corrupt", soft, "1 2 +", "Fail to verify image");
        row("never", soft, "1 2 +", "Error: Failed to install driver");
        row("never -2", soft, "1 2 +",
            "Access Denied: Administrative privilegies are required to access the device");
        row("never 0", soft, "1 2 +", "Error: Failed to init device for repair");
        row("fault c5", soft, "1 2 +", "Error: failed to start microcode reflashing: Pipe error");
    }

    void fails()
    {
        QFETCH(NorbyState, state);
        QFETCH(QString, setup);
        QFETCH(QString, head);
        QFETCH(QString, error);
        Rig rig(setup == "incompatible" ? "harrier3" : "kestrel3", 0x3600, state, setup);
        if (setup == "open fails")
            rig.bus.failOpen(rig.node, LIBUSB_ERROR_ACCESS);
        if (setup.startsWith("fault"))
            rig.bus.failRequest(rig.node, {uint8_t(setup.mid(6).toUInt(nullptr, 16)), 1, -1});
        if (setup == "corrupt")
            rig.device->bootLoader().corruptReadBackAt(sandboxAddress + 17);
        if (setup.startsWith("never "))
            rig.bus.scriptDriverInstall({setup.mid(6).toInt()});

        const QStringList events = rig.run();
        const QStringList expectedHead = QString(head).remove('+').split(' ', Qt::SkipEmptyParts);
        QCOMPARE(events.mid(0, expectedHead.size()), expectedHead);
        if (!head.endsWith('+'))
            QCOMPARE(events.size(), expectedHead.size() + 2);
        QCOMPARE(events.mid(events.size() - 2), (QStringList {"error: " + error, "complete"}));
        QCOMPARE(events.filter("error: ").size(), 1);
        QVERIFY(!events.contains("100"));
        QCOMPARE(rig.bus.openHandles(), 0);
        // Nothing after a failed step reaches the device, and no damaged sandbox is started.
        QCOMPARE(rig.device->flash().edidCommits(), 0);
        QCOMPARE(bool(rig.device->bootLoader().lastStart()),
            setup.startsWith("never") || setup == "fault c5");
    }
};

QTEST_GUILESS_MAIN(tst_UpdateTask)
#include "tst_updatetask.moc"
