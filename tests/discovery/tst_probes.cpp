#include "buschecks.h"
#include "discoveryfixtures.h"
#include "logcapture.h"
#include "probetable.h"

#include <QtTest>

using discoverytest::norby;
using discoverytest::norbyConfig;
using vdev::NorbyDevice;
using vdev::NorbyState;

Q_DECLARE_METATYPE(ProbeResult)

namespace {
enum class Fault { Descriptor, Open, Claim, Ping };
}
Q_DECLARE_METATYPE(Fault)

class tst_Probes : public QObject
{
    Q_OBJECT

    vusb::NodeId hub_ = -1;
    discoverytest::ContextTranslator translator_;

    // Runs the probe the table picks for `node`, the way the scanner does.
    static ProbeResult probe(vusb::NodeId node, DeviceDescription &desc)
    {
        const UsbDeviceRef device = testsupport::deviceOf(node);
        const DeviceDescription where = testsupport::describe(node);
        const ProbeEntry *entry = findProbe(where.vendorId, where.productId);
        const testsupport::LogCapture quiet;
        return entry ? entry->probe(device.get(), desc) : ProbeResult(-1);
    }

    // 1 or 0 for a device the test can open, -1 otherwise.
    static int kernelDriverActive(vusb::NodeId node)
    {
        libusb_device_handle *handle = nullptr;
        if (libusb_open(testsupport::deviceOf(node).get(), &handle) != 0)
            return -1;
        const int active = libusb_kernel_driver_active(handle, 0);
        libusb_close(handle);
        return active;
    }

private slots:
    void init()
    {
        vusb::Bus::instance().reset();
        hub_ = testsupport::Topology::build().hub;
        QCoreApplication::installTranslator(&translator_);
    }
    void cleanup()
    {
        QCoreApplication::removeTranslator(&translator_);
        VERIFY_BUS_CLEAN();
        vusb::Bus::instance().reset();
    }

    void describes_data()
    {
        QTest::addColumn<int>("family");
        QTest::addColumn<NorbyState>("state");
        QTest::addColumn<QByteArray>("versionString"); // null: the read stalls
        QTest::addColumn<bool>("hasSerial");
        QTest::addColumn<QString>("described"); // mode|modeText|serial|version|capabilities

        auto row = [](const char *name, int family, NorbyState state, QByteArray version,
                       bool serial = true) -> QTestData & {
            return QTest::newRow(name) << family << state << version << serial;
        };
        const auto app = NorbyState::Application;
        row("3601", 0x3600, app, "3.2.1") << "0||A1B2C3D4|3.2.1|17";
        row("3601 v2", 0x3600, app, "2.9") << "0||A1B2C3D4|2.9|7";
        row("3601 version unreadable", 0x3600, app, QByteArray()) << "0||A1B2C3D4|0.0.0|7";
        row("3601 version empty", 0x3600, app, "") << "0||A1B2C3D4||7";
        row("3601 version letter", 0x3600, app, "A1") << "0||A1B2C3D4|A1|17";
        row("3601 version non-ASCII", 0x3600, app, "\xC3\xA9") << "0||A1B2C3D4|??|17";
        row("3601 no serial", 0x3600, app, "3.2.1", false) << "0||FFFFFFFF|3.2.1|17";
        row("3621 v3", 0x3620, app, "3.2.1") << "0||A1B2C3D4|3.2.1|1f";
        row("3621 v2", 0x3620, app, "2.9") << "0||A1B2C3D4|2.9|f";
        row("3661 v3", 0x3660, app, "3.2.1") << "0||A1B2C3D4|3.2.1|15";
        row("3661 version unreadable", 0x3660, app, QByteArray()) << "0||A1B2C3D4|0.0.0|5";
        const char *soft = "DeviceScanner|Soft Repair Mode";
        row("3630 soft repair", 0x3630, NorbyState::SoftRepair, "3.2.1")
            << QString("1|%1|A1B2C3D4||0").arg(soft);
        row("362F sandbox", 0x3620, NorbyState::Sandbox, "3.2.1")
            << QString("3|%1|A1B2C3D4||0").arg(soft);
        row("boot loader", 0x3660, NorbyState::BootLoader, "3.2.1")
            << "2|DeviceScanner|Hard Repair Mode|FFFFFFFF||0";
    }

    void describes()
    {
        QFETCH(int, family);
        QFETCH(NorbyState, state);
        QFETCH(QByteArray, versionString);
        QFETCH(bool, hasSerial);
        NorbyDevice::Config config = norbyConfig(uint16_t(family), state);
        config.version = versionString.isNull()
            ? std::nullopt
            : std::optional<std::string>(versionString.toStdString());
        if (!hasSerial)
            config.serial.reset();
        vusb::Bus &bus = vusb::Bus::instance();
        const auto node = bus.plug(hub_, 2, std::make_shared<NorbyDevice>(config));
        bus.setKernelDriverActive(node, true);

        DeviceDescription desc;
        QCOMPARE(probe(node, desc), ProbeResult::Success);
        QTEST(QString("%1|%2|%3|%4|%5")
                  .arg(desc.mode)
                  .arg(desc.modeText, desc.serial, desc.version)
                  .arg(desc.capabilities, 0, 16),
            "described");
        QCOMPARE(desc.product,
            QString(state == NorbyState::BootLoader ? "FX3 Boot Loader" : "KESTREL3"));
        const DeviceDescription where = testsupport::describe(node);
        auto addressing = [](const DeviceDescription &d) {
            return std::make_tuple(d.vendorId, d.productId, d.busNumber, d.deviceAddress,
                d.portNumber, d.portPath, d.parent.get(), d.interfaceNumber);
        };
        QVERIFY(addressing(desc) == addressing(where));
        QVERIFY(desc.parent && !desc.device);

        // Only a capture device is pinged, and its kernel driver is back afterwards.
        const std::vector<vusb::TransferRecord> sent = bus.transfers();
        QCOMPARE(sent.size(), size_t(state == NorbyState::Application ? 1 : 0));
        for (const vusb::TransferRecord &t : sent) {
            QCOMPARE(QString::asprintf("%02X %02X %u %u %u %u", t.requestType, t.request, t.value,
                         t.index, t.length, t.timeout),
                QString("C0 C8 0 0 1 1000"));
        }
        QCOMPARE(kernelDriverActive(node), 1);
        QCOMPARE(bus.openHandles(), 0);
    }

    void failures_data()
    {
        QTest::addColumn<int>("family");
        QTest::addColumn<NorbyState>("state");
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("installIfUnsupported");
        QTest::addColumn<int>("installResult");
        QTest::addColumn<ProbeResult>("result");
        QTest::addColumn<int>("installCalls");
        QTest::addColumn<QStringList>("logTail");

        auto row = [](const char *name, int family, NorbyState state, Fault fault, int code,
                       bool flag = false, int install = 0) -> QTestData & {
            return QTest::newRow(name) << family << state << fault << code << flag << install;
        };
        const auto app = NorbyState::Application, soft = NorbyState::SoftRepair;
        const auto hard = NorbyState::BootLoader;
        const QString install = "Can't open device, try to install WinUSB driver";
        const QString unsupported
            = "Can't open device: Operation not supported or unimplemented on this platform";
        const int io = LIBUSB_ERROR_IO, access = LIBUSB_ERROR_ACCESS;
        const int notSupported = LIBUSB_ERROR_NOT_SUPPORTED;
        const auto error = ProbeResult::Error, installed = ProbeResult::DriverInstalled;
        const auto denied = ProbeResult::AccessDenied;
        using L = QStringList;

        row("capture: descriptor unreadable", 0x3600, app, Fault::Descriptor, io)
            << error << 0 << L {"Probe KESTREL3/OSPREYX3/HARRIER3"};
        row("capture: unsupported", 0x3600, app, Fault::Open, notSupported)
            << installed << 1 << L {"Serial number string id: 4", install};
        row("capture: installation denied", 0x3600, app, Fault::Open, access, false, -2)
            << denied << 1 << L {install, "access"};
        row("capture: claim fails", 0x3600, app, Fault::Claim, LIBUSB_ERROR_BUSY)
            << installed << 1
            << L {"Claim interface: 0", "Error claim usb interface:  -6", install};
        row("audio: no ping answer", 0x3620, app, Fault::Ping, LIBUSB_ERROR_PIPE)
            << error << 0 << L {"Claim interface: 0", "Ping device: -9"};
        row("soft: unsupported, flag clear", 0x3620, soft, Fault::Open, notSupported)
            << error << 0 << L {"Serial number string id: 4", unsupported};
        row("soft: unsupported, flag set", 0x3620, soft, Fault::Open, notSupported, true)
            << installed << 1 << L {install};
        row("soft: other open failure, flag clear", 0x3620, soft, Fault::Open, io, false, -1)
            << error << 1 << L {install, "Error during driver installation"};
        row("sandbox: unsupported, flag clear", 0x3620, NorbyState::Sandbox, Fault::Open,
            notSupported)
            << error << 0
            << L {"Probe Soft", "Product string id: 2", "Serial number string id: 4", unsupported};
        row("boot loader: unsupported, flag set", 0x3600, hard, Fault::Open, notSupported, true)
            << error << 0
            << L {"Probe Hard", "Product string id: 2", "Serial number string id: 0",
                   "Can't open device: ( -12 ) Operation not supported or unimplemented on this "
                   "platform"};
        row("boot loader: installation denied", 0x3600, hard, Fault::Open, access, false, -2)
            << denied << 1 << L {install, "access"};
    }

    void failures()
    {
        QFETCH(int, family);
        QFETCH(NorbyState, state);
        QFETCH(Fault, fault);
        QFETCH(int, code);
        QFETCH(bool, installIfUnsupported);
        QFETCH(int, installResult);
        QFETCH(QStringList, logTail);
        vusb::Bus &bus = vusb::Bus::instance();
        const auto node = bus.plug(hub_, 1, norby(uint16_t(family), state));
        const UsbDeviceRef device = testsupport::deviceOf(node);
        const DeviceDescription where = testsupport::describe(node);
        const ProbeEntry *entry = findProbe(where.vendorId, where.productId);
        bus.setKernelDriverActive(node, true);
        if (fault == Fault::Descriptor)
            bus.failDescriptor(node, code);
        if (fault == Fault::Open)
            bus.failOpen(node, code);
        if (fault == Fault::Claim)
            bus.failClaim(node, code);
        if (fault == Fault::Ping)
            bus.failRequest(node, {0xC8, 1, -1, code});
        bus.scriptDriverInstall({installResult});

        DeviceDescription desc;
        desc.installDriverIfUnsupported = installIfUnsupported;
        testsupport::LogCapture capture;
        QTEST(entry->probe(device.get(), desc), "result");
        QTEST(bus.driverInstallCalls(), "installCalls");
        const QStringList log = capture.debug();
        QCOMPARE(log.mid(log.size() - logTail.size()), logTail);
        // A failed probe describes nothing, and leaves the device as it found it.
        QVERIFY(desc.vendorId == 0 && desc.mode == Normal && desc.capabilities == 0);
        QVERIFY(desc.modeText.isEmpty() && !desc.parent);
        QCOMPARE(bus.openHandles(), 0);
        QVERIFY(kernelDriverActive(node) != 0);
    }
};

QTEST_GUILESS_MAIN(tst_Probes)
#include "tst_probes.moc"
