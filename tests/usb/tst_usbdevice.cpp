#include "bustestcase.h"
#include "deviceaddressing.h"
#include "deviceopen.h"
#include "logcapture.h"
#include "norbydevice.h"

#include <QtTest>

using testsupport::deviceOf;
using testsupport::Topology;
using vdev::NorbyDevice;
using vdev::NorbyState;

// A device's place on the bus, the references a description holds, and opening by either.
class tst_UsbDevice : public testsupport::BusTestCase
{
    Q_OBJECT

private slots:
    // The addressing of a device behind a hub (bus 2, hub port 3, port 2, as 0x2B77:0x3621),
    // of a root hub (no port path: libusb reports 0 ports for it) and of a device whose
    // descriptor cannot be read (the record stays as it was); and whether the device matches
    // its description changed in one field.
    void addressing_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("filled");
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("matches");
        QTest::newRow("behind a hub") << "device"
                                      << "0 2B77:3621 bus 2 port 2 path 03.02 hub"
                                      << "" << true;
        QTest::newRow("root hub") << "root"
                                  << "0 1D6B:0003 bus 1 port 0 path  none"
                                  << "" << true;
        QTest::newRow("descriptor unreadable") << "unreadable"
                                               << "-1 1234:0000 bus 0 port 0 path  none"
                                               << "" << false;
        const auto row = [](const char *name, const char *change, bool matches) {
            QTest::newRow(name) << "device"
                                << "0 2B77:3621 bus 2 port 2 path 03.02 hub" << QString(change)
                                << matches;
        };
        row("any address", "address -1", true);
        row("other address", "address 99", false);
        row("other product id, same port", "product 362F", false);
        row("hub prefix path", "path 3", false);
        row("other port", "path 3.1", false);
        row("other bus", "bus 1", false);
        row("no parent wanted", "parent", false);
    }

    void addressing()
    {
        QFETCH(QString, what);
        QFETCH(QString, change);
        vusb::Bus &bus = vusb::Bus::instance();
        const Topology t = Topology::build();
        const auto node = what == "root"
            ? t.root1
            : bus.plug(t.hub, 2, NorbyDevice::make(0x3620, NorbyState::Application));
        if (what == "unreadable")
            bus.failDescriptor(node, LIBUSB_ERROR_IO);
        const UsbDeviceRef device = deviceOf(node);
        DeviceDescription desc;
        desc.vendorId = 0x1234;
        desc.product = QStringLiteral("kept");
        desc.interfaceNumber = 7;
        testsupport::LogCapture log;
        // Filling twice replaces the parent reference instead of stacking a second one.
        device_addressing_fill(device.get(), desc);
        const int rc = device_addressing_fill(device.get(), desc);
        const QByteArray path(
            reinterpret_cast<const char *>(desc.portPath.data()), int(desc.portPath.size()));
        const bool hub = desc.parent && desc.parent.get() == deviceOf(t.hub).get();
        QTEST(QString::asprintf("%d %04X:%04X bus %d port %d path %s %s", rc, desc.vendorId,
                  desc.productId, desc.busNumber, desc.portNumber, path.toHex('.').constData(),
                  hub               ? "hub"
                      : desc.parent ? "other"
                                    : "none"),
            "filled");
        // Nothing beyond the addressing is touched.
        QVERIFY(desc.product == "kept" && desc.interfaceNumber == 7 && !desc.device);
        QCOMPARE(int(desc.deviceAddress), rc < 0 ? 0 : bus.address(node));
        const std::string failed = "device_addressing_fill: request for device descriptor fail: "
                                   "LIBUSB_ERROR_IO(-1), Input/Output Error\n";
        QCOMPARE(log.progress(), rc == 0 ? std::string() : failed + failed);

        DeviceDescription wanted = testsupport::describe(node);
        wanted.interfaceNumber = 5; // never compared
        wanted.portNumber = 9; // never compared
        const QStringList c = change.split(' ');
        if (c[0] == "address")
            wanted.deviceAddress = int16_t(c[1].toInt());
        else if (c[0] == "product")
            wanted.productId = uint16_t(c[1].toUInt(nullptr, 16));
        else if (c[0] == "bus")
            wanted.busNumber = uint8_t(c[1].toInt());
        else if (c[0] == "parent")
            wanted.parent.reset();
        else if (c[0] == "path") {
            wanted.portPath.clear();
            for (const QString &port : c[1].split('.'))
                wanted.portPath.push_back(uint8_t(port.toInt()));
        }
        QTEST(device_addressing_match(device.get(), wanted), "matches");
    }

    // The wanted device sits on the external hub behind a device on bus 1, which the search
    // passes: the list holds root hub 1, root hub 2, the hub, that device and the wanted one.
    void opens_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("progress");
        QTest::addColumn<QString>("errors");
        QTest::addColumn<int>("openCalls"); // of the wanted enumeration
        QTest::addColumn<int>("ping"); // the result of a transfer while open; 0: no handle

        const QString byAddress = "Open device by adressing info\n";
        const QString search = byAddress + "Found 5 devices. Start search...\n";
        const QString found = "Device found: id=4\n";
        const QString opened = "Device found. Opening...\nDevice opened.\n";
        const QString busy
            = "Can't open device: id=4, code=-6, LIBUSB_ERROR_BUSY. Continue search...\n";
        const auto row = [](const char *name, const char *setup, const QString &progress,
                             const QString &errors, int openCalls, int ping) {
            QTest::newRow(name) << QString(setup) << progress << errors << openCalls << ping;
        };
        row("by addressing", "", search + found + opened, "", 1, 1);
        // The reference wins over addressing that matches nothing; no search happens.
        row("by reference", "reference", "Open device by reference\n" + opened, "", 1, 1);
        // Two enumerations of the same port are listed: an old one that no longer opens and the
        // current one. The wildcard address matches both.
        row("stale enumeration first", "stale",
            byAddress + "Found 6 devices. Start search...\nDevice found: id=5\n" + opened,
            "Can't open device: id=4, code=-3, LIBUSB_ERROR_ACCESS. Continue search...\n", 1, 1);
        // The last attempt comes after the list is freed.
        row("busy once", "busy 1", search + opened, busy, 2, 1);
        row("busy twice", "busy 2", search + "Device found. Opening...\n",
            busy + "Can't open device\n", 2, 0);
        row("claim fails", "claim", search + found + opened, "Error claim usb interface: -6\n", 1,
            0);
        row("unplugged", "unplug", byAddress + "Found 4 devices. Start search...\n", "No device\n",
            0, 0);
        row("no device list", "list",
            byAddress + "Can't get UBS device list: LIBUSB_ERROR_NO_MEM\n", "", 0, 0);
        row("unplugged while open", "pull", search + found + opened, "", 1, LIBUSB_ERROR_NO_DEVICE);
    }

    void opens()
    {
        QFETCH(QString, setup);
        QFETCH(int, openCalls);
        QFETCH(int, ping);
        vusb::Bus &bus = vusb::Bus::instance();
        const Topology t = Topology::build();
        bus.plug(t.root1, 1, NorbyDevice::make(0x3600, NorbyState::Application));
        const auto node = bus.plug(t.hub, 1, NorbyDevice::make(0x3620, NorbyState::Application));
        DeviceDescription desc = testsupport::describe(node);
        bus.setKernelDriverActive(node, true);
        if (setup == "reference") {
            desc.device = deviceOf(node);
            desc.portPath = {9, 9};
        } else if (setup == "stale") {
            desc.deviceAddress = -1;
            bus.failOpen(node, LIBUSB_ERROR_ACCESS, 1);
            bus.plug(t.hub, 1, NorbyDevice::make(0x3620, NorbyState::Application));
        } else if (setup.startsWith("busy")) {
            bus.failOpen(node, LIBUSB_ERROR_BUSY, setup.mid(5).toInt());
        } else if (setup == "claim") {
            bus.failClaim(node, LIBUSB_ERROR_BUSY);
        } else if (setup == "unplug") {
            bus.unplug(node);
        } else if (setup == "list") {
            bus.failDeviceList(LIBUSB_ERROR_NO_MEM);
        }

        testsupport::LogCapture log;
        OpenedDevice opened = OpenedDevice::open(desc);
        QTEST(QString::fromStdString(log.progress()), "progress");
        QTEST(QString::fromStdString(log.errors()), "errors");
        QCOMPARE(bus.openCalls(node), openCalls);
        QCOMPARE(bool(opened), ping != 0);
        QCOMPARE(bus.openHandles(), ping != 0 ? 1 : 0);
        QCOMPARE(bus.claimedInterfaces(), ping != 0 ? 1 : 0);
        // A refused claim gives back the kernel driver it took away.
        if (setup == "claim")
            QCOMPARE(testsupport::kernelDriverActive(node), 1);
        if (!opened)
            return;
        QCOMPARE(libusb_kernel_driver_active(opened.handle(), 0), 0);
        if (setup == "pull")
            bus.unplug(node);
        uint8_t status = 0;
        QCOMPARE(
            libusb_control_transfer(opened.handle(), 0xC0, 0xC8, 0, 0, &status, 1, 1000), ping);
        opened.close(); // the handle and the claim are checked by the cleanup
        QVERIFY(!opened);
        if (setup != "pull")
            QCOMPARE(testsupport::kernelDriverActive(node), 1); // it has its interface back
    }
};

QTEST_GUILESS_MAIN(tst_UsbDevice)
#include "tst_usbdevice.moc"
