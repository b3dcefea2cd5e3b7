#include "buschecks.h"
#include "devicescanner.h"
#include "discoveryfixtures.h"
#include "logcapture.h"
#include "probetable.h"

#include <QDeadlineTimer>
#include <QtTest>

#include <memory>

using discoverytest::norby;
using vdev::NorbyState;

namespace {

const QString AccessDenied
    = "Worker|Access Denied: Administrative privilegies are required to access the device";

// Everything a scanner says, in the order it arrives.
class Recorder : public QObject
{
public:
    explicit Recorder(DeviceScanner &scanner)
        : completeSpy_(&scanner, &DeviceScanner::complete)
    {
        connect(&scanner, &DeviceScanner::newDevice, this, [this](const DeviceDescription &d) {
            devices << d;
            events << QStringLiteral("device %1").arg(d.productId, 0, 16);
            offThread = offThread || QThread::currentThread() != thread();
        });
        connect(&scanner, &DeviceScanner::error, this,
            [this](const QString &text) { events << "error: " + text; });
        connect(&scanner, &DeviceScanner::complete, this, [this] { events << "complete"; });
    }

    bool waitForCompletes(int count)
    {
        const QDeadlineTimer deadline(5000);
        while (completeSpy_.count() < count && !deadline.hasExpired())
            completeSpy_.wait(int(deadline.remainingTime()));
        return completeSpy_.count() == count;
    }

    QList<DeviceDescription> devices;
    QStringList events;
    bool offThread = false;

private:
    QSignalSpy completeSpy_;
};

} // namespace

class tst_DeviceScanner : public QObject
{
    Q_OBJECT

    testsupport::Topology topology_;
    std::unique_ptr<DeviceScanner> scanner_;
    discoverytest::ContextTranslator translator_;

    vusb::NodeId plug(vusb::NodeId hub, uint8_t port, uint16_t family, NorbyState state)
    {
        return vusb::Bus::instance().plug(hub, port, norby(family, state));
    }

    QStringList scanOnce()
    {
        Recorder rec(*scanner_);
        emit scanner_->scan();
        return rec.waitForCompletes(1) ? rec.events : QStringList {"timed out"};
    }

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

    void listFailureCompletesAlone()
    {
        vusb::Bus::instance().plug(topology_.root1, 1, norby(0x3600, NorbyState::Application));
        vusb::Bus::instance().failDeviceList(LIBUSB_ERROR_IO);
        testsupport::LogCapture log;
        QCOMPARE(scanOnce(), QStringList {"complete"});
        QCOMPARE(log.debug(),
            (QStringList {"Scan devices", "Can't get UBS device list LIBUSB_ERROR_IO"}));
    }

    // One device of every id the tool knows, and a twin of the first on another port, spread
    // over two buses and an external hub; every request reports each of them once.
    void reportsEveryKnownDevice()
    {
        vusb::Bus &bus = vusb::Bus::instance();
        struct Expected {
            vusb::NodeId node;
            int32_t mode;
            uint32_t capabilities;
        };
        std::vector<Expected> expected;
        auto add = [&](std::shared_ptr<vdev::NorbyDevice> device, int32_t mode, uint32_t caps) {
            const int i = int(expected.size());
            const vusb::NodeId hub = i < 7 ? topology_.root1
                : i < 14                   ? topology_.hub
                                           : topology_.root2;
            const auto port = uint8_t(i % 7 + (i < 14 ? 1 : 4)); // root 2 has the hub on port 3
            expected.push_back({bus.plug(hub, port, std::move(device)), mode, caps});
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
        QCOMPARE(expected.size(), probeTable.size() + 1);

        Recorder rec(*scanner_);
        emit scanner_->scan();
        emit scanner_->scan(); // queued behind the first, not merged with it
        QVERIFY(rec.waitForCompletes(2));
        QVERIFY(!rec.offThread);
        const int count = int(expected.size());
        QCOMPARE(rec.devices.size(), 2 * count);
        QCOMPARE(rec.events.indexOf("complete"), count);
        QCOMPARE(rec.events.lastIndexOf("complete"), 2 * count + 1);
        for (int i = 0; i < count; ++i) {
            const DeviceDescription where = testsupport::describe(expected[size_t(i)].node);
            for (const DeviceDescription &found : {rec.devices[i], rec.devices[count + i]}) {
                QCOMPARE(found.productId, where.productId);
                QCOMPARE(found.vendorId, where.vendorId);
                QCOMPARE(found.busNumber, where.busNumber);
                QCOMPARE(found.portPath, where.portPath);
                QCOMPARE(found.mode, expected[size_t(i)].mode);
                QCOMPARE(found.capabilities, expected[size_t(i)].capabilities);
                QVERIFY(found.parent && !found.device);
            }
            QCOMPARE(bus.openCalls(expected[size_t(i)].node), 2);
        }
    }

    // Devices go on root 1, ports 1, 2, 3, as families 0x3600, 0x3620, 0x3640. Each is "<state>
    // [fault]"; every probe opens its device once, so a device's open count is the number of
    // passes that reached it.
    void passes_data()
    {
        QTest::addColumn<QStringList>("devices");
        QTest::addColumn<QList<int>>("installs");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QList<int>>("opens");
        QTest::addColumn<int>("installCalls");

        using L = QStringList;
        using I = QList<int>;
        const L none = {"complete"};
        QTest::newRow("hubs only") << L {} << I {} << none << I {} << 0;
        QTest::newRow("unknown vendor") << L {"unknown"} << I {} << none << I {0} << 0;
        QTest::newRow("driver installed: new pass reports it")
            << L {"app no-driver"} << I {0} << L {"device 3601", "complete"} << I {2} << 1;
        QTest::newRow("installation fails: one retry")
            << L {"app no-driver"} << I {-1} << none << I {2} << 2;
        QTest::newRow("installed every time: no fourth pass")
            << L {"app io"} << I {0, 0, 0, 0} << none << I {3} << 3;
        QTest::newRow("no ping answer: one retry")
            << L {"app no-ping"} << I {} << none << I {2} << 0;
        QTest::newRow("no ping answer beside a working device: no retry")
            << L {"app no-ping", "app"} << I {} << L {"device 3621", "complete"} << I {1, 1} << 0;
        QTest::newRow("soft repair unsupported: retry installs, pass 3 reports")
            << L {"soft no-driver"} << I {0} << L {"device 3600", "complete"} << I {3} << 1;
        QTest::newRow("soft repair stays unsupported: no fourth pass")
            << L {"soft unsupported"} << I {0, 0, 0} << none << I {3} << 1;
        QTest::newRow("sandbox unsupported: retry installs, pass 3 reports")
            << L {"sandbox no-driver"} << I {0} << L {"device 360f", "complete"} << I {3} << 1;
        QTest::newRow("boot loader unsupported: the retry does not help")
            << L {"boot no-driver"} << I {0} << none << I {2} << 0;
        // Pass 1: both fail. Pass 2, install flag set: the capture device answers, the
        // soft-repair device gets its driver. Pass 3: both answer, only one is new.
        QTest::newRow("reported once across passes")
            << L {"soft no-driver", "app io-once"} << I {-1, 0}
            << L {"device 3621", "device 3600", "complete"} << I {3, 3} << 2;
        // The rest of the pass still runs; the driver installed in it gets no further pass.
        QTest::newRow("access denied ends the request after the pass")
            << L {"app denied", "app no-driver", "app"} << I {-2, 0}
            << L {"error: " + AccessDenied, "device 3641", "complete"} << I {1, 1, 1} << 2;
        QTest::newRow("descriptor failure ends the request at once")
            << L {"app", "app descriptor", "app"} << I {} << L {"device 3601", "complete"}
            << I {1, 0, 0} << 0;
    }

    void passes()
    {
        QFETCH(QStringList, devices);
        QFETCH(QList<int>, installs);
        QFETCH(QList<int>, opens);
        vusb::Bus &bus = vusb::Bus::instance();
        const QMap<QString, NorbyState> states = {{"app", NorbyState::Application},
            {"unknown", NorbyState::Application}, {"soft", NorbyState::SoftRepair},
            {"sandbox", NorbyState::Sandbox}, {"boot", NorbyState::BootLoader}};
        const QMap<QString, int> openErrors = {{"io", LIBUSB_ERROR_IO},
            {"unsupported", LIBUSB_ERROR_NOT_SUPPORTED}, {"denied", LIBUSB_ERROR_ACCESS}};
        std::vector<vusb::NodeId> nodes;
        for (int i = 0; i < devices.size(); ++i) {
            const QString kind = devices[i].section(' ', 0, 0), fault = devices[i].section(' ', 1);
            const auto node = bus.plug(topology_.root1, uint8_t(i + 1),
                norby(uint16_t(0x3600 + 0x20 * i), states.value(kind),
                    kind == "unknown" ? 0x1234 : 0x2B77));
            if (fault == "no-driver")
                bus.requireDriver(node);
            else if (fault == "io-once")
                bus.failOpen(node, LIBUSB_ERROR_IO, 1);
            else if (openErrors.contains(fault))
                bus.failOpen(node, openErrors.value(fault));
            else if (fault == "no-ping")
                bus.failRequest(node, {0xC8, 1, -1, LIBUSB_ERROR_PIPE});
            else if (fault == "descriptor")
                bus.failDescriptor(node, LIBUSB_ERROR_IO);
            nodes.push_back(node);
        }
        bus.scriptDriverInstall(std::vector<int>(installs.begin(), installs.end()));

        testsupport::LogCapture log;
        QTEST(scanOnce(), "events");
        // Ids in lower-case hex without leading zeros; unknown ones are only logged.
        QVERIFY(log.debug().contains("check device e0f / 2"));
        QList<int> opened;
        for (const vusb::NodeId node : nodes)
            opened << bus.openCalls(node);
        QCOMPARE(opened, opens);
        QTEST(bus.driverInstallCalls(), "installCalls");
    }

    void destructionWaitsForTheRunningScan()
    {
        vusb::Bus &bus = vusb::Bus::instance();
        const auto denied = plug(topology_.root1, 1, 0x3600, NorbyState::Application);
        bus.failOpen(denied, LIBUSB_ERROR_ACCESS);
        bus.scriptDriverInstall({-2});
        std::vector<vusb::NodeId> later;
        for (uint8_t port = 1; port <= 5; ++port)
            later.push_back(plug(topology_.hub, port, 0x3600, NorbyState::Application));

        // Keeps the scanner thread inside the access-denied text, mid-scan.
        discoverytest::ContextTranslator holder;
        holder.holdWorker = true;
        QCoreApplication::installTranslator(&holder);
        emit scanner_->scan();
        const bool held = holder.inside.tryAcquire(1, 5000);
        holder.proceed.release();
        scanner_.reset();
        QCoreApplication::removeTranslator(&holder);
        QVERIFY(held);
        for (const vusb::NodeId node : later)
            QCOMPARE(bus.openCalls(node), 1);
    }
};

QTEST_GUILESS_MAIN(tst_DeviceScanner)
#include "tst_devicescanner.moc"
