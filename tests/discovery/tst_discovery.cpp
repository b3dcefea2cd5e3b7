#include "buschecks.h"
#include "contexttranslator.h"
#include "deviceplacelock.h"
#include "devicescanner.h"
#include "logcapture.h"
#include "norbydevice.h"
#include "probetable.h"
#include "scanrecorder.h"

#include <QtTest>

#include <memory>

using testsupport::norby;
using testsupport::ScanRecorder;
using vdev::NorbyDevice;
using vdev::NorbyState;

Q_DECLARE_METATYPE(ProbeResult)
Q_DECLARE_METATYPE(NorbyState)

namespace {

// How often each node was opened.
QList<int> opens(const std::vector<vusb::NodeId> &nodes)
{
    QList<int> opened;
    for (const vusb::NodeId node : nodes)
        opened << vusb::Bus::instance().openCalls(node);
    return opened;
}

// What a row's `setup` does to the device at `node`: "descriptor:", "open:", "open-once:",
// "claim:", "ping:" and "list:" (the device list) fail with a libusb code; "no-driver": its
// driver must be installed first. The steps, for what the row does besides.
QMap<QString, QString> applySetup(const QString &setup, vusb::NodeId node)
{
    QMap<QString, QString> steps;
    for (const QString &step : setup.split(' ', Qt::SkipEmptyParts))
        steps.insert(step.section(':', 0, 0), step.section(':', 1));
    vusb::Bus &bus = vusb::Bus::instance();
    const auto code = [&](const char *key) { return steps.value(key).toInt(); };
    if (steps.contains("descriptor"))
        bus.failDescriptor(node, code("descriptor"));
    if (steps.contains("open") || steps.contains("open-once"))
        bus.failOpen(node, code("open") + code("open-once"), steps.contains("open") ? -1 : 1);
    if (steps.contains("claim"))
        bus.failClaim(node, code("claim"));
    if (steps.contains("ping"))
        bus.failRequest(node, {0xC8, 1, -1, code("ping")});
    if (steps.contains("list"))
        bus.failDeviceList(code("list"));
    if (steps.contains("no-driver"))
        bus.requireDriver(node);
    return steps;
}

const QString AccessDenied
    = "Worker|Access Denied: Administrative privilegies are required to access the device";

} // namespace

// The probes, each on its own, and the scanner that runs them over the bus.
class tst_Discovery : public QObject
{
    Q_OBJECT

    testsupport::Topology topology_;
    std::unique_ptr<DeviceScanner> scanner_;
    testsupport::ContextTranslator translator_;

private slots:
    void init()
    {
        vusb::Bus::instance().reset();
        topology_ = testsupport::Topology::build();
        scanner_ = std::make_unique<DeviceScanner>();
        QCoreApplication::installTranslator(&translator_);
    }
    void cleanup()
    {
        scanner_.reset();
        QCoreApplication::removeTranslator(&translator_);
        VERIFY_BUS_CLEAN();
        vusb::Bus::instance().reset();
    }

    // One probe, the one the table picks for the device, plugged behind the hub with a kernel
    // driver bound (the ping goes beside it) unless "unbound" (it claims the interface). Besides
    // applySetup's, `setup` makes the device ("version:<text>", "version-stalls", "no-serial"),
    // sets the install flag ("flag"), scripts the driver installation ("install:<result>") or
    // holds the device's place for an update ("updating"). A probe that succeeds is described as
    // "mode|modeText|serial|version| capabilities"; one that fails by the tail of its log.
    void probes_data()
    {
        QTest::addColumn<int>("family");
        QTest::addColumn<NorbyState>("state");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<ProbeResult>("result");
        QTest::addColumn<int>("installCalls");
        QTest::addColumn<QStringList>("outcome");

        auto row = [](const char *name, int family, NorbyState state, const QString &setup,
                       ProbeResult result = ProbeResult::Success, int calls = 0) -> QTestData & {
            return QTest::newRow(name) << family << state << setup << result << calls;
        };
        const auto app = NorbyState::Application, soft = NorbyState::SoftRepair;
        const auto hard = NorbyState::BootLoader;
        using L = QStringList;
        row("3601", 0x3600, app, "") << L {"0||A1B2C3D4|3.2.1|17"};
        row("3601 v2", 0x3600, app, "version:2.9") << L {"0||A1B2C3D4|2.9|7"};
        row("3601 version unreadable", 0x3600, app, "version-stalls") << L {"0||A1B2C3D4|0.0.0|7"};
        row("3601 version empty", 0x3600, app, "version:") << L {"0||A1B2C3D4||7"};
        row("3601 version non-ASCII", 0x3600, app, "version:\xC3\xA9") << L {"0||A1B2C3D4|?|17"};
        row("3601 no serial", 0x3600, app, "no-serial") << L {"0||FFFFFFFF|3.2.1|17"};
        const QString softText = "|DeviceScanner|Soft Repair Mode|A1B2C3D4||0";
        row("3630 soft repair", 0x3630, soft, "") << L {"1" + softText};
        row("362F sandbox", 0x3620, NorbyState::Sandbox, "") << L {"3" + softText};
        row("boot loader", 0x3660, hard, "") << L {"2|DeviceScanner|Hard Repair Mode|FFFFFFFF||0"};

        const QString install = "Can't open device, try to install WinUSB driver";
        const QString unsupported
            = "Can't open device: Operation not supported or unimplemented on this platform";
        const auto error = ProbeResult::Error, installed = ProbeResult::DriverInstalled;
        row("capture: descriptor unreadable", 0x3600, app, "descriptor:-1", error)
            << L {"Probe KESTREL3/OSPREYX3/HARRIER3"};
        row("capture: unsupported", 0x3600, app, "open:-12", installed, 1)
            << L {"Serial number string id: 4", install};
        row("capture: installation denied", 0x3600, app, "open:-3 install:-2",
            ProbeResult::AccessDenied, 1)
            << L {install, "access"};
        // Linux answers -1 once the rule is there; the node still refusing is access all the
        // same (the user not at the seat), said with its reason.
        row("capture: rule installed, access refused", 0x3600, app, "open:-3 install:-1",
            ProbeResult::AccessDenied, 1)
            << L {install};
        row("capture: claim fails", 0x3600, app, "claim:-1 unbound", installed, 1)
            << L {"Claim interface: 0", "Error claim usb interface:  -1", install};
        // Another handle holds the interface: no driver can help.
        row("capture: interface in use", 0x3600, app, "claim:-6 unbound", error)
            << L {"Claim interface: 0", "Error claim usb interface:  -6"};
        const QString beside = "Kernel driver bound: ping beside it, interface not claimed";
        row("audio: no ping answer", 0x3620, app, "ping:-9", error)
            << L {beside, "Ping device: -9"};
        // -1 is a failure like any other negative result, not an answer.
        row("capture: ping fails with an I/O error", 0x3600, app, "ping:-1 unbound", error)
            << L {"Claim interface: 0", "Ping device: -1"};
        // Its update owns the device: listed as its descriptors say, never pinged.
        row("capture being updated", 0x3600, app, "updating") << L {"0||A1B2C3D4|3.2.1|17"};
        row("soft: unsupported, flag clear", 0x3620, soft, "open:-12", error)
            << L {"Probe Soft", "Product string id: 2", "Serial number string id: 4", unsupported};
        row("soft: unsupported, flag set", 0x3620, soft, "open:-12 flag", installed, 1)
            << L {install};
        row("soft: other open failure, flag clear", 0x3620, soft, "open:-1 install:-1", error, 1)
            << L {install, "Error during driver installation"};
        row("boot loader: unsupported, flag set", 0x3600, hard, "open:-12 flag", error)
            << L {"Probe Hard", "Product string id: 2", "Serial number string id: 0",
                   "Can't open device: ( -12 ) Operation not supported or unimplemented on this "
                   "platform"};
    }

    void probes()
    {
        QFETCH(int, family);
        QFETCH(NorbyState, state);
        QFETCH(QString, setup);
        QFETCH(ProbeResult, result);
        QFETCH(QStringList, outcome);
        vusb::Bus &bus = vusb::Bus::instance();
        NorbyDevice::Config config;
        config.familyId = uint16_t(family);
        config.state = state;
        if (setup.contains("version:"))
            config.version = setup.section("version:", 1).section(' ', 0, 0).toStdString();
        if (setup.contains("version-stalls"))
            config.version.reset();
        if (setup.contains("no-serial"))
            config.serial.reset();
        const auto model = std::make_shared<NorbyDevice>(config);
        const vusb::NodeId node = bus.plug(topology_.hub, 1, model);
        const bool bound = !setup.contains("unbound");
        bus.setKernelDriverActive(node, bound);
        DevicePlaceLock place;
        if (setup.contains("updating"))
            place.acquire(DevicePlaceLock::placeName(bus.busNumber(node), bus.portPath(node)),
                DevicePlaceLock::Update, {});
        const UsbDeviceRef device = testsupport::deviceOf(node);
        const ProbeEntry *entry
            = findProbe(model->identity().vendorId, model->identity().productId);
        const QMap<QString, QString> steps = applySetup(setup, node);
        bus.scriptDriverInstall({steps.value("install", "0").toInt()});

        DeviceDescription desc;
        desc.installDriverIfUnsupported = steps.contains("flag");
        testsupport::LogCapture capture;
        QCOMPARE(entry->probe(device.get(), desc), result);
        QTEST(bus.driverInstallCalls(), "installCalls");
        if (result != ProbeResult::Success) {
            const QStringList log = capture.debug();
            QCOMPARE(log.mid(log.size() - outcome.size()), outcome);
            // A failed probe describes nothing, and leaves the device as it found it.
            QVERIFY(desc.vendorId == 0 && desc.mode == Normal && desc.capabilities == 0);
            QVERIFY(desc.modeText.isEmpty() && !desc.parent);
            QVERIFY(testsupport::kernelDriverActive(node) != (bound ? 0 : 1));
            return;
        }
        QCOMPARE(QStringList {QString("%1|%2|%3|%4|%5")
                                  .arg(desc.mode)
                                  .arg(desc.modeText, desc.serial, desc.version)
                                  .arg(desc.capabilities, 0, 16)},
            outcome);
        QCOMPARE(desc.product,
            QString(state == NorbyState::BootLoader ? "FX3 Boot Loader" : "KESTREL3"));
        // Only a capture device is pinged (not while it is updated), beside its kernel driver.
        QCOMPARE(testsupport::wire(node),
            state == NorbyState::Application && !setup.contains("updating")
                ? QStringList {"c0 c8 0 0 1 1000: 01"}
                : QStringList());
        QCOMPARE(testsupport::kernelDriverActive(node), 1);
        QCOMPARE(bus.kernelDriverDetaches(node), 0);
    }

    // One device of every id the tool knows, and a twin of the first on another port, spread
    // over two buses and an external hub; every request reports each of them once.
    void reportsEveryKnownDevice()
    {
        vusb::Bus &bus = vusb::Bus::instance();
        QStringList expected;
        std::vector<vusb::NodeId> nodes;
        auto add = [&](std::shared_ptr<vdev::NorbyDevice> device, int32_t mode, uint32_t caps) {
            const int i = int(nodes.size());
            const vusb::NodeId hub = i < 7 ? topology_.root1
                : i < 14                   ? topology_.hub
                                           : topology_.root2;
            const auto port = uint8_t(i % 7 + (i < 14 ? 1 : 4)); // root 2 has the hub on port 3
            nodes.push_back(bus.plug(hub, port, std::move(device)));
            DeviceDescription where = testsupport::describe(nodes.back());
            where.mode = mode;
            where.capabilities = caps;
            expected << testsupport::scanSummary(where);
        };
        add(norby(0x3600, NorbyState::Application), Normal, 0x17);
        const std::pair<uint16_t, uint32_t> families[]
            = {{0x3600, 0x17}, {0x3620, 0x1F}, {0x3630, 0x17}, {0x3640, 0x17}, {0x3660, 0x15}};
        for (const auto &[family, capabilities] : families) {
            add(norby(family, NorbyState::Application), Normal, capabilities);
            add(norby(family, NorbyState::SoftRepair), SoftRepair, 0);
            add(norby(family, NorbyState::Sandbox), DirectUpdate, 0);
        }
        add(norby(0x3600, NorbyState::Application, 0x5555), Normal, 0x17);
        add(norby(0x3600, NorbyState::BootLoader), HardRepair, 0);
        QCOMPARE(nodes.size(), probeTable.size() + 1);

        ScanRecorder rec(*scanner_);
        emit scanner_->scan();
        emit scanner_->scan(); // queued behind the first, not merged with it
        QVERIFY(rec.waitForCompletes(2));
        QVERIFY(!rec.offThread);
        const int count = int(nodes.size());
        QCOMPARE(rec.events.indexOf("complete"), count);
        QCOMPARE(rec.events.lastIndexOf("complete"), 2 * count + 1);
        QCOMPARE(rec.devices, expected + expected);
        QCOMPARE(opens(nodes), QVector<int>(count, 2).toList());
    }

    // What the system is told about the devices: the metainfo's modaliases (software centres
    // offer the program for those) and the udev rule's ids (who may open them) are exactly the
    // probe table's.
    void packagingNamesEveryId_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("pattern");
        QTest::newRow("metainfo") << LUMEXOR_METAINFO
                                  << R"(<modalias>usb:v([0-9A-F]{4})p([0-9A-F]{4})d\*</modalias>)";
        QTest::newRow("udev rule")
            << LUMEXOR_UDEV_RULE << R"#(ATTR\{idVendor\}=="(\w+)", ATTR\{idProduct\}=="(\w+)")#";
    }

    void packagingNamesEveryId()
    {
        QFETCH(QString, file);
        QFETCH(QString, pattern);
        QFile in(file);
        QVERIFY2(in.open(QIODevice::ReadOnly), qPrintable(file));
        QStringList named;
        auto matches = QRegularExpression(pattern).globalMatch(QString::fromUtf8(in.readAll()));
        while (matches.hasNext()) {
            const QRegularExpressionMatch match = matches.next();
            named << (match.captured(1) + ':' + match.captured(2)).toLower();
        }
        QStringList known;
        for (const ProbeEntry &entry : probeTable)
            known << QString::asprintf("%04x:%04x", entry.vendorId, entry.productId);
        named.sort();
        known.sort();
        QCOMPARE(named, known);
    }

    // Devices go on root 1, ports 1, 2, 3, as families 0x3600, 0x3620, 0x3640. Each is "<state>
    // [setup]" (see applySetup); every probe opens its device once, so a device's open count is the
    // number of passes that reached it.
    void passes_data()
    {
        QTest::addColumn<QStringList>("devices");
        QTest::addColumn<QList<int>>("installs");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QList<int>>("opens");
        QTest::addColumn<int>("installCalls");

        using L = QStringList;
        using I = QList<int>;
        const auto row = [](const char *name, L devices, I installs, L events, I opens, int calls) {
            QTest::newRow(name) << devices << installs << events << opens << calls;
        };
        const QStringList none = {"complete"};
        row("unknown vendor", {"unknown"}, {}, none, {0}, 0);
        row("installation fails: one retry", {"app no-driver"}, {-1}, none, {2}, 2);
        row("installed every time: no fourth pass", {"app open:-1"}, {0, 0, 0, 0}, none, {3}, 3);
        row("no ping answer beside a working device: no retry", {"app ping:-9", "app"}, {},
            {"device 3621", "complete"}, {1, 1}, 0);
        row("soft repair stays unsupported: no fourth pass", {"soft open:-12"}, {0, 0, 0}, none,
            {3}, 1);
        row("boot loader unsupported: the retry does not help", {"boot no-driver"}, {0}, none, {2},
            0);
        // Pass 1: both fail. Pass 2, install flag set: the capture device answers, the
        // soft-repair device gets its driver. Pass 3: both answer, only one is new.
        row("reported once across passes", {"soft no-driver", "app open-once:-1"}, {-1, 0},
            {"device 3621", "device 3600", "complete"}, {3, 3}, 2);
        // The rest of the pass still runs; the driver installed in it gets no further pass.
        row("access denied ends the request after the pass",
            {"app open:-3", "app no-driver", "app"}, {-2, 0},
            {"error: " + AccessDenied, "device 3641", "complete"}, {1, 1, 1}, 2);
        row("device list fails", {"app list:-1"}, {}, none, {0}, 0);
        row("descriptor failure ends the request at once", {"app", "app descriptor:-1", "app"}, {},
            {"device 3601", "complete"}, {1, 0, 0}, 0);
    }

    void passes()
    {
        QFETCH(QStringList, devices);
        QFETCH(QList<int>, installs);
        QFETCH(QList<int>, opens);
        vusb::Bus &bus = vusb::Bus::instance();
        const QMap<QString, NorbyState> states
            = {{"app", NorbyState::Application}, {"unknown", NorbyState::Application},
                {"soft", NorbyState::SoftRepair}, {"boot", NorbyState::BootLoader}};
        std::vector<vusb::NodeId> nodes;
        for (int i = 0; i < devices.size(); ++i) {
            const QString kind = devices[i].section(' ', 0, 0);
            nodes.push_back(bus.plug(topology_.root1, uint8_t(i + 1),
                norby(uint16_t(0x3600 + 0x20 * i), states.value(kind),
                    kind == "unknown" ? 0x1234 : 0x2B77)));
            applySetup(devices[i].section(' ', 1), nodes.back());
        }
        bus.scriptDriverInstall(std::vector<int>(installs.begin(), installs.end()));

        testsupport::LogCapture log;
        ScanRecorder rec(*scanner_);
        emit scanner_->scan();
        QVERIFY(rec.waitForCompletes(1));
        QTEST(rec.events, "events");
        // Ids in lower-case hex without leading zeros; unknown ones are only logged.
        if (devices.value(0).contains("list:"))
            QCOMPARE(log.debug(),
                (QStringList {"Scan devices", "Can't get UBS device list LIBUSB_ERROR_IO"}));
        else
            QVERIFY(log.debug().contains("check device e0f / 2"));
        QCOMPARE(::opens(nodes), opens);
        QTEST(bus.driverInstallCalls(), "installCalls");
    }
};

QTEST_GUILESS_MAIN(tst_Discovery)
#include "tst_discovery.moc"
