#include "deviceplacelock.h"
#include "rig.h"
using vdev::NorbyState;

const PackageImages images;

Q_DECLARE_METATYPE(NorbyState)

// Whole update and repair runs.
class tst_UpdateTask : public BusTestCase
{
    Q_OBJECT

private slots:
    // "peers companion": the sandbox microcode connects at SuperSpeed, which puts the restarted
    // device on the companion of its old port: another bus, and below hubs another path. Each
    // sandbox id is first looked for on the old port, where its driver installation (nothing
    // to install here) is tried in vain. A failing run ("error" set) is of a KESTREL3 whose
    // setup is its name.
    void runs_data()
    {
        QTest::addColumn<QString>("product");
        QTest::addColumn<int>("family");
        QTest::addColumn<NorbyState>("state");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QList<int>>("ends"); // ends of the steps before the last
        QTest::addColumn<int>("driverCalls");
        QTest::addColumn<QString>("place"); // where the device is afterwards: bus-path
        QTest::addColumn<QString>("error"); // empty: flashed

        const auto row = [](const char *name, const char *product, int family, NorbyState state,
                             const char *setup, QList<int> ends, int driverCalls = 0,
                             const char *place = "2-3.2") {
            QTest::newRow(name) << QString(product) << family << state << QString(setup) << ends
                                << driverCalls << QString(place) << QString();
        };
        const auto fails = [](const char *setup, const QString &error,
                               NorbyState state = NorbyState::SoftRepair) {
            QTest::newRow(setup) << QString("kestrel3") << 0x3600 << state << QString(setup)
                                 << QList<int>() << 0 << QString() << error;
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

        fails("never -2",
            "Access Denied: Administrative privilegies are required to access the device");
        fails("never 0", "Error: Failed to init device for repair");
        // A device back on a port that is neither its old one nor that one's companion may be
        // another device.
        // Linux installs no driver: the text says where the device was looked for.
        fails("peers unrelated",
            "Error: the device did not come back after its restart (port 2-3.2, nor its "
            "companion port)");
        fails("never", "Error: the device did not come back after its restart (port 2-3.2)");
        // Refused before the device is opened: its flash stays as it was. The package's own
        // refusals are tst_packagechecks', tst_bootimage's and the command line's
        // (tests/blackbox); here mostly the repair's, whose sandbox must not start either.
        fails("bad edid", "EDID data has incorrect checksum");
        // Read in full before the device is touched: a damaged image never reaches its step
        // with the other image already committed.
        fails("long fpga", "Error: failed to read FPGA image: Zip archive inconsistent");
        fails("empty fpga", "Error: FPGA image is empty");
        // This process holds the device's place for an update of its own: refused at once,
        // naming it, before anything reaches the device.
        fails("another update",
            "Error: another update of this device is running: tst_updatetask (process "
                + QString::number(QCoreApplication::applicationPid()) + ")",
            app);
        fails("large edid without images",
            "EDID data is too large to send: 4224 bytes; one USB control transfer carries at most "
            "4096 bytes on this system",
            app);
    }

    void runs()
    {
        QFETCH(QString, product);
        QFETCH(int, family);
        QFETCH(NorbyState, state);
        QFETCH(QString, setup);
        QFETCH(QList<int>, ends);
        QFETCH(QString, error);
        UpdateRig rig(product, family, state, setup);
        // The update keeps its open sequence: the video driver is detached and the interface
        // claimed, whatever requests and probes do.
        rig.bus.setKernelDriverActive(rig.node, state == NorbyState::Application);
        DevicePlaceLock place;
        if (setup == "another update")
            place.acquire(DevicePlaceLock::placeName(rig.desc.busNumber, rig.desc.portPath),
                DevicePlaceLock::Update, {});
        if (setup == "needs driver") {
            rig.bus.requireDriverAfterRestart(rig.node);
            rig.bus.scriptDriverInstall({0});
        }
        if (setup.startsWith("never "))
            rig.bus.scriptDriverInstall({setup.mid(6).toInt()});
        // A failed run that got as far as the sandbox and the search for the device: progress
        // 1, 2 and the download's.
        const bool restarted = setup.startsWith("never") || setup.startsWith("peers");

        QStringList events = rig.run();
        QCOMPARE(events.takeLast(), "complete");
        if (!error.isEmpty())
            QCOMPARE(events.takeLast(), "error: " + error);
        // Another error anywhere shows as -1 out of order.
        QList<int> values;
        for (const QString &event : events)
            values << (event.startsWith("error") ? -1 : event.toInt());
        const bool checked = error.isEmpty() || restarted || setup == "another update";
        QCOMPARE(values.mid(0, 2), QList<int>({1, 2}).mid(0, checked ? 2 : 1));
        QCOMPARE(values.last() == 100, error.isEmpty());
        QVERIFY2(std::is_sorted(values.begin(), values.end()), qPrintable(events.join(' ')));
        vdev::NorbyFlash &flash = rig.device->flash();
        if (!error.isEmpty()) {
            if (!restarted)
                QCOMPARE(int(rig.bus.transfers(rig.node).size()), 0);
            // Nothing after a failed step reaches the device, and no sandbox that failed to
            // load is started.
            QCOMPARE(flash.edidCommits(), 0);
            QVERIFY(!flash.edidAccessOpen());
            QCOMPARE(bool(rig.device->bootLoader().lastStart()), restarted);
            return;
        }
        for (int end : ends)
            QVERIFY2(values.contains(end), qPrintable(QString::number(end)));
        QCOMPARE(rig.bus.kernelDriverDetaches(rig.node), int(state == NorbyState::Application));

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
};

QTEST_GUILESS_MAIN(tst_UpdateTask)
#include "tst_updatetask.moc"
