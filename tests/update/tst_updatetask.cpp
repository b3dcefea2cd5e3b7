#include "bustestcase.h"
#include "deviceopen.h"
#include "fx3bootload.h"
#include "norbydevice.h"
#include "updatepackages.h"

#include <QtTest>

using namespace testsupport;
using namespace std::chrono_literals;
using vdev::NorbyState;

namespace {

constexpr uint32_t entryPoint = 0x40003A10;
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

    // The sandbox download on its own, with `image` as member "sandbox.img" (none when null).
    int load(const QByteArray &image)
    {
        if (!image.isNull())
            package.add("sandbox.img", image);
        ZipArchive archive(package.write().toStdString());
        OpenedDevice opened = OpenedDevice::open(desc);
        FlashContext context {opened.handle(), [this](int p) { progress << p; },
            [this](const QString &text) { errors << text; }};
        return loadFx3BootImage(context, "sandbox.img", archive);
    }

    // The RAM requests as W(rite), R(ead-back) or S(tart), address and length; "!" marks one
    // off the conventions (vendor type, device recipient, 1 s timeout).
    QStringList ramRequests() const
    {
        QStringList out;
        for (const vusb::TransferRecord &t : bus.transfers(node)) {
            const QString kind = t.requestType == 0xC0 ? "R" : t.length ? "W" : "S";
            const bool conventional
                = t.request == 0xA0 && t.timeout == 1000 && (t.requestType & 0x7F) == 0x40;
            out << kind + QString::number(uint32_t(t.index) << 16 | t.value, 16)
                    + (t.length ? ':' + QString::number(t.length) : QString())
                    + (conventional ? "" : "!");
        }
        return out;
    }

    vusb::Bus &bus = vusb::Bus::instance();
    ZipPackage package;
    QString path;
    std::shared_ptr<vdev::NorbyDevice> device;
    vusb::NodeId node = -1;
    DeviceDescription desc;
    QList<int> progress; // of load()
    QStringList errors;
};

} // namespace

Q_DECLARE_METATYPE(NorbyState)

// The sandbox microcode loaded into the boot loader's RAM, and whole update and repair runs.
class tst_UpdateTask : public testsupport::BusTestCase
{
    Q_OBJECT

private slots:
    void loads_data()
    {
        QTest::addColumn<QByteArray>("image"); // null: the member is missing
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("error"); // empty: loaded and started
        QTest::addColumn<int>("requests"); // how many of the good image's RAM requests are sent

        const auto row = [](const char *name, const QByteArray &image, const char *fault,
                             const QString &error, int requests) {
            QTest::newRow(name) << image << QString(fault) << error << requests;
        };
        const QByteArray good = bootImage({{loadAddress, patternBytes(10000)}}, entryPoint);
        const QString truncated = "Error: sandbox microcode image is truncated";
        const QString badSignature = "Error: failed to verify microcode signature";
        const QString writeFails = "Error: failed to write microcode: LIBUSB_ERROR_PIPE";
        QByteArray huge = good.left(4);
        appendWord(huge, 0x80001);
        appendWord(huge, loadAddress);
        huge += QByteArray(0x200004, 'x');
        row("chunk by chunk", good, "", "", 7);
        row("no sections: start only", bootImage({}, entryPoint), "", "", -1);
        row("no member", QByteArray(), "", "Error: failed to open sandbox microcode: sandbox.img",
            0);
        row("bad signature", "CX" + good.mid(2), "", badSignature, 0);
        row("one byte", "C", "", badSignature, 0);
        row("ends in the image header", good.left(3), "", truncated, 0);
        row("ends in a section header", good.left(10), "", truncated, 0);
        row("ends in section data", good.left(12 + 9999), "", truncated, 0);
        row("ends in the checksum", good.chopped(1), "", truncated, 0);
        row("section beyond the buffer", huge, "",
            "Error: microcode section at 0x40000000 is too long: 2097156 bytes, at most 2097152",
            0);
        row("bad checksum", bootImage({{loadAddress, patternBytes(10000)}}, entryPoint, 1), "",
            "FX3 checksum error", 0);
        row("read-back differs", good, "corrupt", "Fail to verify image", 4);
        // Occurrences of 0xA0 count writes and read-backs alike.
        row("second write fails", good, "3", writeFails, 3);
        row("second read-back fails", good, "4", writeFails, 4);
        row("start fails", good, "7", "Error: failed to start microcode: LIBUSB_ERROR_PIPE", 7);
    }

    void loads()
    {
        QFETCH(QByteArray, image);
        QFETCH(QString, fault);
        QFETCH(QString, error);
        QFETCH(int, requests);
        Rig rig("kestrel3", 0x3600, NorbyState::SoftRepair, "sandbox");
        if (fault == "corrupt")
            rig.device->bootLoader().corruptReadBackAt(loadAddress + 5000);
        else if (!fault.isEmpty())
            rig.bus.failRequest(rig.node, {0xA0, fault.toInt(), 1, vdev::Pipe});
        QCOMPARE(rig.load(image) < 0, !error.isEmpty());
        QCOMPARE(rig.errors, error.isEmpty() ? QStringList() : QStringList {error});
        const QStringList all = QString("W40000000:4096 R40000000:4096 W40001000:4096 "
                                        "R40001000:4096 W40002000:1808 R40002000:1808 S40003a10")
                                    .split(' ');
        QCOMPARE(rig.ramRequests(), requests < 0 ? all.mid(6) : all.mid(0, requests));
        QCOMPARE(bool(rig.device->bootLoader().lastStart()), error.isEmpty());
        if (!error.isEmpty())
            return;
        QCOMPARE(rig.progress, requests < 0 ? QList<int>() : QList<int> {2 + 10000 * 13 / 10024});
        const std::vector<uint8_t> ram = rig.device->bootLoader().ram(loadAddress, 10000);
        QCOMPARE(bytesOf(ram), requests < 0 ? QByteArray(10000, 0) : patternBytes(10000));
    }
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
        row("ospreyx3", "ospreyx3", 0x3620, app, "", {51});
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
        QCOMPARE(bytesOf(flash.fx3Flash()), edidOnly ? QByteArray() : images.microcode);
        QCOMPARE(bytesOf(flash.fpgaFlash()), edidOnly ? QByteArray() : images.fpga);
        QCOMPARE(flash.edid(), product == "ospreyx3" ? std::vector<uint8_t>() : images.edid);
        QCOMPARE(rig.bus.driverInstallCalls(), driverCalls);
        if (rig.desc.mode == SoftRepair || rig.desc.mode == HardRepair) {
            QCOMPARE(bytesOf(rig.device->bootLoader().ram(loadAddress, 600)), images.sandboxCode);
            QVERIFY(values.at(2) > 2 && values.at(2) <= 15); // the download's own progress
        }
        // The restarted device refuses twice (the search and its last try), then opens after
        // the driver installation.
        if (setup == "needs driver")
            QCOMPARE(rig.bus.openCalls(rig.node), 1 + 2 + 1);
    }

    // The sandbox microcode may connect at SuperSpeed, which puts the restarted device on the
    // companion of its old port: another bus, and below hubs another path.
    void companion_data()
    {
        QTest::addColumn<QString>("product");
        QTest::addColumn<int>("family");
        QTest::addColumn<NorbyState>("state");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("error"); // empty: flashed
        QTest::addColumn<QString>("place"); // where the device is afterwards: bus-path
        QTest::addColumn<int>("driverCalls");

        const NorbyState soft = NorbyState::SoftRepair;
        const NorbyState boot = NorbyState::BootLoader;
        const auto row
            = [](const char *name, const char *product, int family, NorbyState state,
                  const char *setup, const QString &error, const char *place, int driverCalls) {
                  QTest::newRow(name) << QString(product) << family << state << QString(setup)
                                      << error << QString(place) << driverCalls;
              };
        // Each sandbox id is first looked for on the old port, where its driver installation
        // (nothing to install here) is tried in vain.
        row("soft repair, USB 3 hub", "kestrel3", 0x3600, soft, "peers companion", "", "3-5.2", 1);
        row("boot loader, root port", "kestrel3_4k", 0x3630, boot, "peers companion root port", "",
            "3-1", 2);
        row("boot loader, root port, second id", "kestrel3_4k", 0x3640, boot,
            "peers companion root port", "", "3-1", 3);
        row("port without a peer: back on it", "kestrel3", 0x3600, soft, "companion", "", "2-3.2",
            0);
        row("unrelated port: not taken", "kestrel3", 0x3600, soft, "peers unrelated",
            "Error: Failed to install driver", "2-3.3", 2);
    }

    void companion()
    {
        QFETCH(QString, product);
        QFETCH(int, family);
        QFETCH(NorbyState, state);
        QFETCH(QString, setup);
        QFETCH(QString, error);
        QFETCH(QString, place);
        QFETCH(int, driverCalls);
        Rig rig(product, family, state, setup);

        const QStringList events = rig.run();
        QCOMPARE(events.last(), "complete");
        QCOMPARE(events.filter("error: "),
            error.isEmpty() ? QStringList() : QStringList {"error: " + error});
        QCOMPARE(events.contains("100"), error.isEmpty());
        QCOMPARE(
            bytesOf(rig.device->flash().fpgaFlash()), error.isEmpty() ? images.fpga : QByteArray());
        QCOMPARE(
            rig.device->flash().edid(), error.isEmpty() ? images.edid : std::vector<uint8_t>());
        QCOMPARE(rig.bus.driverInstallCalls(), driverCalls);
        QVERIFY(rig.bus.attached(rig.node));
        QStringList path;
        for (uint8_t port : rig.bus.portPath(rig.node))
            path << QString::number(port);
        QCOMPARE(QString::number(rig.bus.busNumber(rig.node)) + "-" + path.join('.'), place);
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
        row("encrypted", soft, "1",
            "Error: failed to open sandbox microcode: kestrel3-sandbox.img");
        row("never", soft, "1 2 +", "Error: Failed to install driver");
        row("never -2", soft, "1 2 +",
            "Access Denied: Administrative privilegies are required to access the device");
        row("never 0", soft, "1 2 +", "Error: Failed to init device for repair");
        row("fault c5", soft, "1 2 +", "Error: failed to start microcode reflashing: Pipe error");
        // Refused before the device is opened: its flash stays as it was.
        row("unaligned", app, "1", "Error: microcode block does not aligned by 32 bit length: 906");
        row("fpga encrypted", app, "1", "Error: failed to find FPGA image");
        row("bad edid", app, "1", "EDID data has incorrect checksum");
        row("bad edid, repair", soft, "1", "EDID data has incorrect checksum");
        // Read in full before the device is touched: a damaged image never reaches its step
        // with the other image already committed.
        row("crc microcode", app, "1", "Error: failed to read microcode image: CRC error");
        row("deflate fpga", app, "1", "Error: failed to read FPGA image: Zlib error: data error");
        row("short fpga", app, "1", "Error: failed to read FPGA image: Zip archive inconsistent");
        row("long fpga", soft, "1", "Error: failed to read FPGA image: Zip archive inconsistent");
        row("empty microcode", app, "1", "Error: microcode image is empty");
        row("empty fpga", soft, "1", "Error: FPGA image is empty");
        row("large edid", app, "1",
            "EDID data is too large to send: 4224 bytes; one USB control transfer carries at "
            "most 4096 bytes on this system");
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
        Rig rig(setup == "incompatible" ? "harrier3" : "kestrel3", 0x3600, state, setup);
        if (setup == "open fails")
            rig.bus.failOpen(rig.node, LIBUSB_ERROR_ACCESS);
        if (setup.startsWith("fault"))
            rig.bus.failRequest(rig.node, {uint8_t(setup.mid(6).toUInt(nullptr, 16)), 1, -1});
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
        QCOMPARE(bool(rig.device->bootLoader().lastStart()),
            setup.startsWith("never") || setup == "fault c5");
    }
};

QTEST_GUILESS_MAIN(tst_UpdateTask)
#include "tst_updatetask.moc"
