#include "bustestcase.h"
#include "deviceaddressing.h"
#include "logcapture.h"
#include "norbydevice.h"
#include "usbdeviceref.h"

#include <QtTest>

using testsupport::Topology;
using vdev::NorbyDevice;
using vdev::NorbyState;

using testsupport::deviceOf;

class tst_DeviceAddressing : public testsupport::BusTestCase
{
    Q_OBJECT

private slots:
    void fillRecordsThePlaceOnTheBus()
    {
        vusb::Bus &bus = vusb::Bus::instance();
        const Topology t = Topology::build();
        const auto node = bus.plug(t.hub, 2, NorbyDevice::make(0x3620, NorbyState::Application));
        const UsbDeviceRef device = deviceOf(node);
        QVERIFY(device);

        DeviceDescription desc;
        desc.product = QStringLiteral("kept");
        desc.interfaceNumber = 7;
        QCOMPARE(device_addressing_fill(device.get(), desc), 0);
        QCOMPARE(desc.vendorId, uint16_t(0x2B77));
        QCOMPARE(desc.productId, uint16_t(0x3621));
        QCOMPARE(desc.busNumber, uint8_t(2));
        QCOMPARE(desc.deviceAddress, int16_t(bus.address(node)));
        QCOMPARE(desc.portNumber, uint8_t(2));
        QCOMPARE(desc.portPath, (std::vector<uint8_t> {3, 2}));
        QVERIFY(desc.parent);
        QVERIFY(!desc.device);
        // Nothing beyond the addressing is touched.
        QCOMPARE(desc.product, QStringLiteral("kept"));
        QCOMPARE(desc.interfaceNumber, uint16_t(7));

        // Filling again replaces the parent reference instead of stacking a second one.
        QCOMPARE(device_addressing_fill(device.get(), desc), 0);
    }

    void fillFailureLeavesTheRecordAndLogs()
    {
        vusb::Bus &bus = vusb::Bus::instance();
        const Topology t = Topology::build();
        const auto node = bus.plug(t.root1, 1, NorbyDevice::make(0x3600, NorbyState::Application));
        const UsbDeviceRef device = deviceOf(node);
        bus.failDescriptor(node, LIBUSB_ERROR_IO);

        DeviceDescription desc;
        desc.vendorId = 0x1234;
        testsupport::LogCapture log;
        QCOMPARE(device_addressing_fill(device.get(), desc), int(LIBUSB_ERROR_IO));
        QCOMPARE(desc.vendorId, uint16_t(0x1234));
        QVERIFY(desc.portPath.empty());
        QVERIFY(!desc.parent);
        QCOMPARE(log.progress(),
            std::string("device_addressing_fill: request for device "
                        "descriptor fail: LIBUSB_ERROR_IO(-1), "
                        "Input/Output Error\n"));
        QVERIFY(!device_addressing_match(device.get(), desc));
    }

    void match_data()
    {
        QTest::addColumn<int>("productId");
        QTest::addColumn<int>("busNumber");
        QTest::addColumn<QByteArray>("portPath");
        QTest::addColumn<int>("address");
        QTest::addColumn<bool>("withParent");
        QTest::addColumn<bool>("matches");

        // The device sits on bus 2, hub port 3, port 2, as 0x2B77:0x3621.
        const QByteArray path("\x03\x02", 2);
        QTest::newRow("same place, same address") << 0x3621 << 2 << path << 0 << true << true;
        QTest::newRow("any address") << 0x3621 << 2 << path << -1 << true << true;
        QTest::newRow("other address") << 0x3621 << 2 << path << 99 << true << false;
        QTest::newRow("other product id, same port") << 0x362F << 2 << path << -1 << true << false;
        QTest::newRow("hub prefix path")
            << 0x3621 << 2 << QByteArray("\x03", 1) << -1 << true << false;
        QTest::newRow("longer path")
            << 0x3621 << 2 << QByteArray("\x03\x02\x01", 3) << -1 << true << false;
        QTest::newRow("other port")
            << 0x3621 << 2 << QByteArray("\x03\x01", 2) << -1 << true << false;
        QTest::newRow("other bus") << 0x3621 << 1 << path << -1 << true << false;
        QTest::newRow("no parent wanted") << 0x3621 << 2 << path << -1 << false << false;
    }

    void match()
    {
        QFETCH(int, productId);
        QFETCH(int, busNumber);
        QFETCH(QByteArray, portPath);
        QFETCH(int, address);
        QFETCH(bool, withParent);
        QFETCH(bool, matches);

        vusb::Bus &bus = vusb::Bus::instance();
        const Topology t = Topology::build();
        const auto node = bus.plug(t.hub, 2, NorbyDevice::make(0x3620, NorbyState::Application));
        const UsbDeviceRef device = deviceOf(node);
        const UsbDeviceRef hubDevice = deviceOf(t.hub);

        DeviceDescription wanted;
        wanted.vendorId = 0x2B77;
        wanted.productId = static_cast<uint16_t>(productId);
        wanted.busNumber = static_cast<uint8_t>(busNumber);
        wanted.portPath.assign(portPath.begin(), portPath.end());
        wanted.deviceAddress = static_cast<int16_t>(address == 0 ? bus.address(node) : address);
        wanted.interfaceNumber = 5; // never compared
        wanted.portNumber = 9; // never compared
        if (withParent)
            wanted.parent = hubDevice;
        QCOMPARE(device_addressing_match(device.get(), wanted), matches);
    }
};

QTEST_GUILESS_MAIN(tst_DeviceAddressing)
#include "tst_deviceaddressing.moc"
