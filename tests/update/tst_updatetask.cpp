#include "rig.h"
using vdev::NorbyState;

namespace {

const PackageImages images;

} // namespace

Q_DECLARE_METATYPE(NorbyState)

// Whole update and repair runs.
class tst_UpdateTask : public BusTestCase
{
    Q_OBJECT

private slots:
    // "peers companion": the sandbox microcode connects at SuperSpeed, which puts the restarted
    // device on the companion of its old port: another bus, and below hubs another path. Each
    // sandbox id is first looked for on the old port, where its driver installation (nothing
    // to install here) is tried in vain.
    void updates_data()
    {
        QTest::addColumn<QString>("product");
        QTest::addColumn<int>("family");
        QTest::addColumn<NorbyState>("state");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QList<int>>("ends"); // ends of the steps before the last
        QTest::addColumn<int>("driverCalls");
        QTest::addColumn<QString>("place"); // where the device is afterwards: bus-path

        const auto row = [](const char *name, const char *product, int family, NorbyState state,
                             const char *setup, QList<int> ends, int driverCalls = 0,
                             const char *place = "2-3.2") {
            QTest::newRow(name) << QString(product) << family << state << QString(setup) << ends
                                << driverCalls << QString(place);
        };
        const NorbyState app = NorbyState::Application;
        const NorbyState soft = NorbyState::SoftRepair;
        const NorbyState boot = NorbyState::BootLoader;
        row("legacy", "legacy", 0x3600, app, "", {34, 66});
        row("ospreyx3", "ospreyx3", 0x3620, app, "", {51});
        row("sandbox running", "kestrel3", 0x3600, NorbyState::Sandbox, "", {34, 66});
        row("soft repair, back without driver", "ospreyx3", 0x3620, soft, "needs driver", {57}, 1);
        // The 4K sandbox ids are tried in set order: the 0x3640 device answers to the second
        // one, after a driver installation for the first. The plain soft and hard repairs are
        // the fault matrix's clean runs.
        row("hard repair, 4K 0x3640", "kestrel3_4k", 0x3640, boot, "", {43, 71}, 1);
        row("soft repair, companion behind a USB 3 hub", "kestrel3", 0x3600, soft,
            "peers companion", {43, 71}, 1, "3-5.2");
        row("hard repair, companion root port", "kestrel3_4k", 0x3630, boot,
            "peers companion root port", {43, 71}, 2, "3-1");
        row("hard repair, companion root port, second id", "kestrel3_4k", 0x3640, boot,
            "peers companion root port", {43, 71}, 3, "3-1");
    }

    void updates()
    {
        QFETCH(QString, product);
        QFETCH(int, family);
        QFETCH(NorbyState, state);
        QFETCH(QString, setup);
        QFETCH(QList<int>, ends);
        UpdateRig rig(product, family, state, setup);
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
        QCOMPARE(bytesOf(flash.fx3Flash()), images.microcode);
        QCOMPARE(bytesOf(flash.fpgaFlash()), images.fpga);
        QCOMPARE(flash.edid(), product == "ospreyx3" ? std::vector<uint8_t>() : images.edid);
        QTEST(rig.bus.driverInstallCalls(), "driverCalls");
        if (rig.desc.mode == SoftRepair || rig.desc.mode == HardRepair) {
            QCOMPARE(bytesOf(rig.device->bootLoader().ram(loadAddress, 600)), images.sandboxCode);
            QVERIFY(values.at(2) > 2 && values.at(2) <= 15); // the download's own progress
        }
        // The restarted device refuses twice (the search and its last try), then opens after
        // the driver installation.
        if (setup == "needs driver")
            QCOMPARE(rig.bus.openCalls(rig.node), 1 + 2 + 1);
        QVERIFY(rig.bus.attached(rig.node));
        QStringList path;
        for (uint8_t port : rig.bus.portPath(rig.node))
            path << QString::number(port);
        QTEST(QString::number(rig.bus.busNumber(rig.node)) + "-" + path.join('.'), "place");
    }

    void fails_data()
    {
        QTest::addColumn<NorbyState>("state");
        QTest::addColumn<QString>("error");
        const NorbyState soft = NorbyState::SoftRepair;
        QTest::newRow("never -2")
            << soft
            << "Access Denied: Administrative privilegies are required to access the device";
        QTest::newRow("never 0") << soft << "Error: Failed to init device for repair";
        // A device back on a port that is neither its old one nor that one's companion may be
        // another device.
        QTest::newRow("peers unrelated") << soft << "Error: Failed to install driver";
        // Refused before the device is opened: its flash stays as it was. The package's own
        // refusals are tst_packagechecks', tst_bootimage's and the command line's
        // (tests/blackbox); here mostly the repair's, whose sandbox must not start either.
        QTest::newRow("bad edid") << soft << "EDID data has incorrect checksum";
        // Read in full before the device is touched: a damaged image never reaches its step
        // with the other image already committed.
        QTest::newRow("long fpga")
            << soft << "Error: failed to read FPGA image: Zip archive inconsistent";
        QTest::newRow("empty fpga") << soft << "Error: FPGA image is empty";
        QTest::newRow("large edid without images")
            << NorbyState::Application
            << "EDID data is too large to send: 4224 bytes; one USB control transfer carries at "
               "most 4096 bytes on this system";
    }

    void fails()
    {
        QFETCH(NorbyState, state);
        QFETCH(QString, error);
        const QString setup = QTest::currentDataTag();
        // The sandbox ran and the device was looked for: progress 1, 2 and the download's.
        const bool restarted = setup.startsWith("never") || setup.startsWith("peers");
        UpdateRig rig("kestrel3", 0x3600, state, setup);
        if (setup.startsWith("never "))
            rig.bus.scriptDriverInstall({setup.mid(6).toInt()});

        const QStringList events = rig.run();
        QCOMPARE(events.mid(0, 2),
            (restarted ? QStringList {"1", "2"} : QStringList {"1", "error: " + error}));
        QCOMPARE(events.mid(events.size() - 2), (QStringList {"error: " + error, "complete"}));
        QCOMPARE(events.filter("error: ").size(), 1);
        QVERIFY(!events.contains("100"));
        if (!restarted)
            QCOMPARE(int(rig.bus.transfers(rig.node).size()), 0);
        // Nothing after a failed step reaches the device, and no sandbox that failed to load is
        // started.
        QCOMPARE(rig.device->flash().edidCommits(), 0);
        QVERIFY(!rig.device->flash().edidAccessOpen());
        QCOMPARE(bool(rig.device->bootLoader().lastStart()), restarted);
    }
};

QTEST_GUILESS_MAIN(tst_UpdateTask)
#include "tst_updatetask.moc"
