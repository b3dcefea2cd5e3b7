#include "bustestcase.h"
#include "deviceaddressing.h"
#include "deviceopen.h"
#include "logcapture.h"
#include "norbydevice.h"

#include <QtTest>

using testsupport::LogCapture;
using testsupport::Topology;
using vdev::NorbyDevice;
using vdev::NorbyState;

using testsupport::describe;

class tst_DeviceOpen : public testsupport::BusTestCase
{
    Q_OBJECT

private slots:
    void opensByAddressingAndClaims()
    {
        vusb::Bus &bus = vusb::Bus::instance();
        const Topology t = Topology::build();
        bus.plug(t.root1, 1, NorbyDevice::make(0x3600, NorbyState::Application));
        const auto node = bus.plug(t.hub, 1, NorbyDevice::make(0x3620, NorbyState::Application));
        const DeviceDescription desc = describe(node);

        LogCapture log;
        libusb_device_handle *handle = device_open(desc);
        QVERIFY(handle);
        QCOMPARE(bus.claimedInterfaces(), 1);
        // Root hub 1, root hub 2, the external hub, device on bus 1, the wanted device.
        QCOMPARE(log.progress(),
            std::string("Open device by adressing info\n"
                        "Found 5 devices. Start search...\n"
                        "Device found: id=4\n"
                        "Device found. Opening...\n"
                        "Device opened.\n"));
        QCOMPARE(log.errors(), std::string());

        uint8_t status = 0;
        QCOMPARE(libusb_control_transfer(handle, 0xC0, 0xC8, 0, 0, &status, 1, 1000), 1);
        QCOMPARE(bus.transfers(node).size(), size_t(1));

        device_close(handle, desc);
        QCOMPARE(bus.openHandles(), 0);
        QCOMPARE(bus.claimedInterfaces(), 0);
    }

    void opensByReference()
    {
        vusb::Bus &bus = vusb::Bus::instance();
        const Topology t = Topology::build();
        const auto node = bus.plug(t.root1, 4, NorbyDevice::make(0x3600, NorbyState::Application));
        DeviceDescription desc = describe(node);

        // Point the reference at the device, with addressing that matches nothing: the
        // reference wins and no search happens.
        libusb_device **list = nullptr;
        const ssize_t n = libusb_get_device_list(nullptr, &list);
        for (ssize_t i = 0; i < n; ++i) {
            if (libusb_get_device_address(list[i]) == bus.address(node))
                desc.device.reset(list[i]);
        }
        libusb_free_device_list(list, 1);
        desc.portPath = {9, 9};

        LogCapture log;
        OpenedDevice opened = OpenedDevice::open(desc);
        QVERIFY(opened);
        QCOMPARE(log.progress(),
            std::string("Open device by reference\n"
                        "Device found. Opening...\n"
                        "Device opened.\n"));
        opened.close();
        QVERIFY(!opened);
        desc.device.reset();
    }

    void searchGoesOnAfterAFailedOpen()
    {
        vusb::Bus &bus = vusb::Bus::instance();
        const Topology t = Topology::build();
        const auto node = bus.plug(t.root1, 1, NorbyDevice::make(0x3600, NorbyState::Application));
        DeviceDescription wanted = describe(node);
        wanted.deviceAddress = -1;
        // Two enumerations of the same port are listed: an old one that is no longer openable
        // and the current one. The wildcard address matches both.
        bus.failOpen(node, LIBUSB_ERROR_ACCESS, 1);
        const auto second
            = bus.plug(t.root1, 1, NorbyDevice::make(0x3600, NorbyState::Application));
        Q_UNUSED(second);

        LogCapture log;
        OpenedDevice opened = OpenedDevice::open(wanted);
        QVERIFY(opened);
        QCOMPARE(log.errors(),
            std::string("Can't open device: id=3, code=-3, LIBUSB_ERROR_ACCESS. "
                        "Continue search...\n"));
        QVERIFY(log.progress().find("Device found: id=4\n") != std::string::npos);
    }

    void retryAfterTheListIsFreed_data()
    {
        QTest::addColumn<int>("failures");
        QTest::addColumn<bool>("opens");
        QTest::newRow("second attempt opens") << 1 << true;
        QTest::newRow("both attempts fail") << 2 << false;
    }

    void retryAfterTheListIsFreed()
    {
        QFETCH(int, failures);
        QFETCH(bool, opens);
        vusb::Bus &bus = vusb::Bus::instance();
        const Topology t = Topology::build();
        const auto node = bus.plug(t.root1, 1, NorbyDevice::make(0x3600, NorbyState::Application));
        const DeviceDescription desc = describe(node);
        bus.failOpen(node, LIBUSB_ERROR_BUSY, failures);

        LogCapture log;
        OpenedDevice opened = OpenedDevice::open(desc);
        QCOMPARE(static_cast<bool>(opened), opens);
        QCOMPARE(bus.openCalls(node), 2);
        const std::string expectedErrors
            = "Can't open device: id=3, code=-6, LIBUSB_ERROR_BUSY. Continue search...\n"
            + std::string(opens ? "" : "Can't open device\n");
        QCOMPARE(log.errors(), expectedErrors);
        QVERIFY(log.progress().find("Device found. Opening...\n") != std::string::npos);
    }

    void nothingToOpen()
    {
        vusb::Bus &bus = vusb::Bus::instance();
        DeviceDescription desc;
        desc.vendorId = 0x2B77;
        desc.productId = 0x3601;
        {
            LogCapture log;
            QVERIFY(!device_open(desc));
            QCOMPARE(log.progress(),
                std::string("Open device by adressing info\n"
                            "Found 0 devices. Start search...\n"));
            QCOMPARE(log.errors(), std::string("No device\n"));
        }
        {
            bus.failDeviceList(LIBUSB_ERROR_NO_MEM);
            LogCapture log;
            QVERIFY(!device_open(desc));
            QCOMPARE(log.progress(),
                std::string("Open device by adressing info\n"
                            "Can't get UBS device list: "
                            "LIBUSB_ERROR_NO_MEM\n"));
            QCOMPARE(log.errors(), std::string());
        }
    }

    void failedClaimLeavesNothingOpen()
    {
        vusb::Bus &bus = vusb::Bus::instance();
        const Topology t = Topology::build();
        const auto node = bus.plug(t.root1, 1, NorbyDevice::make(0x3600, NorbyState::Application));
        const DeviceDescription desc = describe(node);
        bus.failClaim(node, LIBUSB_ERROR_BUSY);

        LogCapture log;
        QVERIFY(!device_open(desc));
        QCOMPARE(log.errors(), std::string("Error claim usb interface: -6\n"));
        QCOMPARE(bus.openHandles(), 0);
    }

    void kernelDriverIsDetachedAndGivenBack()
    {
        vusb::Bus &bus = vusb::Bus::instance();
        const Topology t = Topology::build();
        const auto node = bus.plug(t.root1, 1, NorbyDevice::make(0x3600, NorbyState::Application));
        const DeviceDescription desc = describe(node);
        bus.setKernelDriverActive(node, true);

        LogCapture log;
        libusb_device_handle *handle = device_open(desc);
        QVERIFY(handle);
        QCOMPARE(libusb_kernel_driver_active(handle, 0), 0);
        device_close(handle, desc);
        QCOMPARE(bus.claimedInterfaces(), 0);

        // The kernel driver has its interface back.
        OpenedDevice again = OpenedDevice::open(desc);
        QVERIFY(again);
        again.close();
        libusb_device_handle *probe = nullptr;
        const UsbDeviceRef device = testsupport::deviceOf(node);
        QCOMPARE(libusb_open(device.get(), &probe), 0);
        QCOMPARE(libusb_kernel_driver_active(probe, 0), 1);
        libusb_close(probe);
    }

    void closeOfNullDoesNothing()
    {
        device_close(nullptr, DeviceDescription());
        OpenedDevice empty;
        empty.close();
        QVERIFY(vusb::Bus::instance().misuse().empty());
    }

    void unpluggedDeviceFailsWithNoDevice()
    {
        vusb::Bus &bus = vusb::Bus::instance();
        const Topology t = Topology::build();
        const auto node = bus.plug(t.root1, 1, NorbyDevice::make(0x3600, NorbyState::Application));
        const DeviceDescription desc = describe(node);
        LogCapture log;
        OpenedDevice opened = OpenedDevice::open(desc);
        QVERIFY(opened);
        bus.unplug(node);
        uint8_t status = 0;
        QCOMPARE(libusb_control_transfer(opened.handle(), 0xC0, 0xC8, 0, 0, &status, 1, 1000),
            int(LIBUSB_ERROR_NO_DEVICE));
        opened.close();
        QVERIFY(!device_open(desc));
    }
};

QTEST_GUILESS_MAIN(tst_DeviceOpen)
#include "tst_deviceopen.moc"
