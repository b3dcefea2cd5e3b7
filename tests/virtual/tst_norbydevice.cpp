// The device model's own checks stand between a wrong host and a passing test: a model that
// accepted a bad FPGA frame or a bad RAM image would hide exactly the faults the update tests
// are there to catch. So these checks are tested here, on the model alone and through the bus.

#include "buschecks.h"
#include "crc32.h"
#include "norbydevice.h"

#include <QtTest>
#include <zlib.h>

using vdev::ControlSetup;
using vdev::NorbyDevice;
using vdev::NorbyFlash;
using vdev::NorbyState;

namespace {

int out(NorbyDevice &device, uint8_t request, std::vector<uint8_t> data = {}, uint16_t value = 0,
    uint16_t index = 0)
{
    const ControlSetup setup {0x40, request, value, index, static_cast<uint16_t>(data.size())};
    return device.control(setup, data.data());
}

int status(NorbyDevice &device, uint8_t request)
{
    uint8_t byte = 0xEE;
    const int rc = device.control(ControlSetup {0xC0, request, 0, 0, 1}, &byte);
    return rc == 1 ? byte : rc;
}

std::vector<uint8_t> le32(uint32_t v)
{
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

std::vector<uint8_t> header(uint32_t size)
{
    std::vector<uint8_t> h {'F', 'P', 'G', 'A'};
    const auto s = le32(size);
    h.insert(h.end(), s.begin(), s.end());
    const auto crc = le32(vdev::crc32Update(0, h.data(), 8));
    h.insert(h.end(), crc.begin(), crc.end());
    return h;
}

} // namespace

class tst_NorbyDevice : public QObject
{
    Q_OBJECT

private slots:
    void crcEqualsZlib()
    {
        std::vector<uint8_t> bytes(10000);
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = uint8_t(i * 7 + 3);
        const uint32_t mine = vdev::crc32Update(
            vdev::crc32Update(0, bytes.data(), 4096), bytes.data() + 4096, bytes.size() - 4096);
        QCOMPARE(mine, uint32_t(crc32(0, bytes.data(), uInt(bytes.size()))));
        QCOMPARE(vdev::crc32Update(0, nullptr, 0), 0u);
    }

    void framedFpgaRun_data()
    {
        QTest::addColumn<int>("damage");
        QTest::addColumn<bool>("committed");
        QTest::newRow("well framed") << 0 << true;
        QTest::newRow("header crc wrong") << 1 << false;
        QTest::newRow("trailer crc wrong") << 2 << false;
        QTest::newRow("image longer than announced") << 3 << false;
        QTest::newRow("no trailer") << 4 << false;
    }

    void framedFpgaRun()
    {
        QFETCH(int, damage);
        QFETCH(bool, committed);
        NorbyDevice device(NorbyDevice::Config {});
        const std::vector<uint8_t> image(5000, 0x5A);
        QCOMPARE(out(device, 0xC1), 0);
        auto h = header(uint32_t(image.size() - (damage == 3 ? 1 : 0)));
        if (damage == 1)
            h[11] ^= 1;
        const int headerRc = out(device, 0xC2, h);
        QCOMPARE(headerRc, damage == 1 ? int(vdev::Pipe) : 12);
        out(device, 0xC2, std::vector<uint8_t>(image.begin(), image.begin() + 4096));
        const int lastRc
            = out(device, 0xC2, std::vector<uint8_t>(image.begin() + 4096, image.end()));
        QCOMPARE(lastRc == int(vdev::Pipe), damage == 1 || damage == 3);
        auto trailer = le32(vdev::crc32Update(0, image.data(), image.size()));
        if (damage == 2)
            trailer[0] ^= 1;
        if (damage != 4)
            out(device, 0xC2, trailer);
        QCOMPARE(out(device, 0xC3) == 0, committed);
        QCOMPARE(device.flash().fpgaCommits(), committed ? 1 : 0);
        if (committed)
            QCOMPARE(device.flash().fpgaFlash(), image);
    }

    void plainFpgaAndMicrocodeRuns()
    {
        auto device = NorbyDevice::make(0x3640, NorbyState::Sandbox);
        QCOMPARE(device->flash().fpgaFormat(), NorbyFlash::FpgaFormat::Plain);
        device->flash().setBusyPolls(2);
        QCOMPARE(out(*device, 0xC1), 0);
        QCOMPARE(status(*device, 0xC4), 0);
        QCOMPARE(status(*device, 0xC4), 0);
        QCOMPARE(status(*device, 0xC4), 1);
        QCOMPARE(out(*device, 0xC2, {1, 2, 3}), 3);
        QCOMPARE(out(*device, 0xC3), 0);
        QCOMPARE(device->flash().fpgaFlash(), (std::vector<uint8_t> {1, 2, 3}));

        // Microcode goes in 32-bit words; a run is committed only by its completion.
        QCOMPARE(out(*device, 0xC6, {1, 2, 3, 4}), int(vdev::Pipe));
        QCOMPARE(out(*device, 0xC5), 0);
        QCOMPARE(out(*device, 0xC6, {1, 2}), int(vdev::Pipe));
        QCOMPARE(out(*device, 0xC6, {1, 2, 3, 4}), 4);
        QVERIFY(device->flash().fx3Flash().empty());
        QCOMPARE(out(*device, 0xC7), 0);
        QCOMPARE(device->flash().fx3Flash(), (std::vector<uint8_t> {1, 2, 3, 4}));

        // The EDID goes whole, in 128-byte blocks, inside an opened access.
        QCOMPARE(out(*device, 0xD2, std::vector<uint8_t>(128)), int(vdev::Pipe));
        QCOMPARE(out(*device, 0xCF), 0);
        QCOMPARE(out(*device, 0xD2, std::vector<uint8_t>(100)), int(vdev::Pipe));
        QCOMPARE(out(*device, 0xD2, std::vector<uint8_t>(256, 7)), 256);
        QCOMPARE(out(*device, 0xD4), 0);
        QCOMPARE(device->flash().edid(), std::vector<uint8_t>(256, 7));

        // The sandbox answers no settings request.
        uint8_t flags = 0;
        QCOMPARE(device->control(ControlSetup {0xC0, 0xE2, 0, 0, 1}, &flags), int(vdev::Pipe));
    }

    void bootLoaderRamAndStart()
    {
        auto device = NorbyDevice::make(0x3600, NorbyState::BootLoader);
        QCOMPARE(device->identity().vendorId, uint16_t(0x04B4));
        QCOMPARE(device->identity().productId, uint16_t(0x00F3));
        QCOMPARE(out(*device, 0xA0, {9, 8, 7}, 0xFFFE, 0x4000), 3);
        QCOMPARE(device->bootLoader().ram(0x4000FFFE, 4), (std::vector<uint8_t> {9, 8, 7, 0}));
        std::vector<uint8_t> back(3);
        QCOMPARE(device->control(ControlSetup {0xC0, 0xA0, 0xFFFE, 0x4000, 3}, back.data()), 3);
        QCOMPARE(back, (std::vector<uint8_t> {9, 8, 7}));
        device->bootLoader().corruptReadBackAt(0x4000FFFF);
        device->control(ControlSetup {0xC0, 0xA0, 0xFFFE, 0x4000, 3}, back.data());
        QVERIFY(back[1] != 8);
        QVERIFY(!device->takeReenumeration());
        QCOMPARE(out(*device, 0xA0, {}, 0x0040, 0x4000), 0);
        QCOMPARE(device->state(), NorbyState::Sandbox);
        QCOMPARE(device->identity().productId, uint16_t(0x360F));
        QVERIFY(device->takeReenumeration());
        QVERIFY(!device->takeReenumeration());
    }

    void restartComesBackOnTheBus_data()
    {
        QTest::addColumn<int>("arrival");
        QTest::addColumn<int>("port");
        QTest::newRow("same port") << int(vdev::Arrival::SamePort) << 2;
        QTest::newRow("other port") << int(vdev::Arrival::OtherPort) << 3;
        QTest::newRow("never") << int(vdev::Arrival::Never) << 0;
    }

    void restartComesBackOnTheBus()
    {
        QFETCH(int, arrival);
        QFETCH(int, port);
        vusb::Bus &bus = vusb::Bus::instance();
        bus.reset();
        const auto root = bus.addRootHub(1);
        NorbyDevice::Config config;
        config.familyId = 0x3630;
        config.state = NorbyState::SoftRepair;
        config.restart = {std::chrono::milliseconds(30), vdev::Arrival(arrival)};
        const auto node = bus.plug(root, 2, std::make_shared<NorbyDevice>(config));
        const uint8_t oldAddress = bus.address(node);
        {
            const UsbDeviceRef device = testsupport::deviceOf(node);
            libusb_device_handle *handle = nullptr;
            QCOMPARE(libusb_open(device.get(), &handle), 0);
            QCOMPARE(libusb_control_transfer(handle, 0x40, 0xA0, 0, 0x4000, nullptr, 0, 1000), 0);
            QVERIFY(!bus.attached(node));
            uint8_t byte = 0;
            QCOMPARE(libusb_control_transfer(handle, 0xC0, 0xC8, 0, 0, &byte, 1, 1000),
                int(LIBUSB_ERROR_NO_DEVICE));
            libusb_close(handle);
        }
        if (port == 0) {
            QTest::qWait(60);
            QVERIFY(!bus.attached(node));
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(bus.attached(node), 2000);
            const DeviceDescription desc = testsupport::describe(node);
            QCOMPARE(desc.productId, uint16_t(0x363F));
            QCOMPARE(desc.portPath, std::vector<uint8_t> {uint8_t(port)});
            QVERIFY(desc.deviceAddress != oldAddress);
        }
        VERIFY_BUS_CLEAN();
        bus.reset();
    }
};

QTEST_GUILESS_MAIN(tst_NorbyDevice)
#include "tst_norbydevice.moc"
