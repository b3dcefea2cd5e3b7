#include "rig.h"
using vdev::NorbyState;

namespace {

const PackageImages images;
// By NorbyState: Application, SoftRepair, Sandbox, BootLoader.
const DeviceMode modeOf[] = {Normal, SoftRepair, DirectUpdate, HardRepair};

// A device plugged in the state of `state` and a package for `product` (see
// writeUpdatePackage for `setup`); a device "never" coming back after its restart.
struct Rig {
    Rig(const QString &product, int family, NorbyState state, const QString &setup)
        : path(writeUpdatePackage(package, product, setup))
    {
        vdev::NorbyDevice::Config config;
        config.familyId = uint16_t(family);
        config.state = state;
        if (setup.startsWith("never"))
            config.restart.arrival = vdev::Arrival::Never;
        // "companion": the restarted device connects at SuperSpeed, on the companion of its
        // port; "unrelated": on the next port of its hub. Bus 2 is the USB 2 half of the
        // host's USB 3 ports, bus 3 their SuperSpeed half; the hub on bus 2 port 3 is the
        // USB 2 half of a USB 3 hub whose other half sits on bus 3 port 5.
        if (setup.contains("companion"))
            config.restart.arrival = vdev::Arrival::CompanionPort;
        if (setup.contains("unrelated"))
            config.restart.arrival = vdev::Arrival::OtherPort;
        device = std::make_shared<vdev::NorbyDevice>(config);
        const Topology topology = Topology::build();
        if (setup.contains("peers")) {
            const vusb::NodeId superSpeedRoot = bus.addRootHub(3);
            const vusb::NodeId superSpeedHub = bus.addHub(superSpeedRoot, 5);
            bus.linkPeerPorts(topology.root2, 1, superSpeedRoot, 1);
            bus.linkPeerPorts(topology.root2, 3, superSpeedRoot, 5);
            bus.linkPeerHubs(topology.hub, superSpeedHub, 4);
        }
        node = setup.contains("root port") ? bus.plug(topology.root2, 1, device)
                                           : bus.plug(topology.hub, 2, device);
        desc = describe(node);
        desc.mode = modeOf[int(state)];
    }

    // The device restarts in 20 ms.
    QStringList run() { return runUpdate(desc, path, {0ms, 100ms, 0ms, 2000ms}); }

    vusb::Bus &bus = vusb::Bus::instance();
    ZipPackage package;
    QString path;
    std::shared_ptr<vdev::NorbyDevice> device;
    vusb::NodeId node = -1;
    DeviceDescription desc;
};

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
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("head"); // progress before the error; "+": and the steps'
        QTest::addColumn<QString>("error");
        const auto row = [](const char *setup, NorbyState state, const char *head, QString error) {
            QTest::newRow(setup) << state << QString(setup) << QString(head) << error;
        };
        const NorbyState app = NorbyState::Application;
        const NorbyState soft = NorbyState::SoftRepair;
        row("no package", app, "", "Cannot open firmware package: No such file");
        row("never -2", soft, "1 2 +",
            "Access Denied: Administrative privilegies are required to access the device");
        row("never 0", soft, "1 2 +", "Error: Failed to init device for repair");
        // A device back on a port that is neither its old one nor that one's companion may be
        // another device.
        row("peers unrelated", soft, "1 2 +", "Error: Failed to install driver");
        // Refused before the device is opened: its flash stays as it was. The package's own
        // refusals are tst_packagechecks', tst_bootimage's and the command line's
        // (tests/blackbox); here mostly the repair's, whose sandbox must not start either.
        row("fpga encrypted", app, "1", "Error: failed to find FPGA image");
        row("bad edid, repair", soft, "1", "EDID data has incorrect checksum");
        // Read in full before the device is touched: a damaged image never reaches its step
        // with the other image already committed.
        row("long fpga", soft, "1", "Error: failed to read FPGA image: Zip archive inconsistent");
        row("empty fpga", soft, "1", "Error: FPGA image is empty");
        row("large edid without images", app, "1",
            "EDID data is too large to send: 4224 bytes; one USB control transfer carries at "
            "most 4096 bytes on this system");
    }

    void fails()
    {
        QFETCH(NorbyState, state);
        QFETCH(QString, setup);
        QFETCH(QString, head);
        QFETCH(QString, error);
        const NorbyState soft = NorbyState::SoftRepair;
        Rig rig("kestrel3", 0x3600, state, setup);
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
        if (head == "1")
            QCOMPARE(int(rig.bus.transfers(rig.node).size()), 0);
        // Nothing after a failed step reaches the device, and no sandbox that failed to load is
        // started.
        QCOMPARE(rig.device->flash().edidCommits(), 0);
        QVERIFY(!rig.device->flash().edidAccessOpen());
        QCOMPARE(bool(rig.device->bootLoader().lastStart()), state == soft && head.endsWith('+'));
    }
};

QTEST_GUILESS_MAIN(tst_UpdateTask)
#include "tst_updatetask.moc"
