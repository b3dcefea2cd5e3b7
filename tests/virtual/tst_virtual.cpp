// The virtual bus and the device models are tested only where a fault in them would hide a
// fault of the product: the error texts and strings the product shows to users, the accounting
// that fails a test on a leak or a misuse, the checks a model makes of what the host sends (a
// model that accepted a bad FPGA frame would hide exactly the faults the update tests are there
// to catch), and a device's restart on the bus. The boot loader's RAM is read back by the
// product itself; tst_updatetask compares it too.

#include "bustestcase.h"
#include "crc32.h"
#include "libusbexchange.h"
#include "norbydevice.h"

#include <QtTest>
#include <libusb.h>

#include <dlfcn.h>

using vdev::NorbyDevice;
using vdev::NorbyState;

namespace {

int out(NorbyDevice &device, uint8_t request, std::vector<uint8_t> data = {})
{
    return device.control({0x40, request, 0, 0, uint16_t(data.size())}, data.data());
}

std::vector<uint8_t> le32(uint32_t v)
{
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

} // namespace

class tst_Virtual : public testsupport::BusTestCase
{
    Q_OBJECT

private slots:
    void errorTextsEqualTheRealLibrary()
    {
        // The real library is loaded beside the emulation; its own symbols are looked up in
        // its own scope, so both sets of texts can be compared.
        void *real = dlopen("libusb-1.0.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!real)
            QSKIP("libusb-1.0.so.0 is not installed");
        using TextFn = const char *(*)(int);
        auto realName = reinterpret_cast<TextFn>(dlsym(real, "libusb_error_name"));
        auto realText = reinterpret_cast<TextFn>(dlsym(real, "libusb_strerror"));
        QVERIFY(realName && realText);
        for (int code = -100; code <= 8; ++code) {
            QCOMPARE(libusb_error_name(code), realName(code));
            QCOMPARE(libusb_strerror(code), realText(code));
        }
        dlclose(real);
    }

    void leaksAndMisuseAreReported()
    {
        vusb::Bus &bus = vusb::Bus::instance();
        bus.plug(bus.addRootHub(1), 1, NorbyDevice::make(0x3600, NorbyState::Application));
        libusb_device **list = nullptr;
        QCOMPARE(libusb_get_device_list(nullptr, &list), ssize_t(2));
        libusb_device *device = list[1];
        libusb_device_handle *handle = nullptr;
        QCOMPARE(libusb_open(device, &handle), 0);
        QCOMPARE(libusb_claim_interface(handle, 0), 0);

        libusb_ref_device(device);
        QCOMPARE(QString::fromStdString(bus.leakReport()),
            "3 libusb_device reference(s) never released; 1 handle(s) never closed; "
            "1 interface(s) still claimed; 1 device list(s) never freed; ");
        libusb_release_interface(handle, 0);
        libusb_close(handle);
        libusb_free_device_list(list, 1);
        QCOMPARE(QString::fromStdString(bus.leakReport()),
            "1 libusb_device reference(s) never released; ");
        libusb_unref_device(device);
        QVERIFY(bus.leakReport().empty());
        // One release too many and a closed handle's use are caught, not silently absorbed.
        libusb_unref_device(device);
        uint8_t status = 0;
        QCOMPARE(libusb_control_transfer(handle, 0xC0, 0xC8, 0, 0, &status, 1, 1000),
            int(LIBUSB_ERROR_INVALID_PARAM));
        QCOMPARE(QString::fromStdString(bus.leakReport()),
            "misuse: libusb_unref_device: releases a reference the caller does not hold; "
            "misuse: libusb_control_transfer: handle used after libusb_close; ");
        bus.reset();
    }

    // What the real library answers on Linux: tests/umockdev/tst_usbfsrules asks libusb 1.0.26
    // the same on emulated usbfs devices.
    void answersAsTheRealLibrary_data() { testsupport::libusbExchangeRows(); }

    void answersAsTheRealLibrary()
    {
        vusb::Bus &bus = vusb::Bus::instance();
        const vusb::NodeId node
            = bus.plug(testsupport::Topology::build().hub, 1, testsupport::exchangeDevice());
        testsupport::checkLibusbExchange(
            testsupport::deviceOf(node).get(), [&](const QString &step) {
                if (const auto fault = testsupport::exchangeFault(step))
                    bus.failRequest(node, *fault);
                else if (step == "driver")
                    bus.setKernelDriverActive(node, true);
                else
                    bus.unplug(node);
            });
    }

    // The loader's own checks of a framed run ("FPGA", the size and the CRC of the two, the
    // image in pieces, its CRC), which the product never gets wrong on purpose; a well framed
    // run and one without its trailer are in tst_flashsteps.
    void framedFpgaRunRefused_data()
    {
        QTest::addColumn<int>("damage");
        QTest::addColumn<QList<int>>("results"); // start, header, two pieces, trailer, completion
        const int pipe = vdev::Pipe;
        QTest::newRow("header crc wrong") << 1 << QList<int> {0, pipe, pipe, pipe, pipe, pipe};
        QTest::newRow("trailer crc wrong") << 2 << QList<int> {0, 12, 4096, 904, pipe, pipe};
        QTest::newRow("image longer than announced")
            << 3 << QList<int> {0, 12, 4096, pipe, 4, pipe};
    }

    void framedFpgaRunRefused()
    {
        QFETCH(int, damage);
        NorbyDevice device(NorbyDevice::Config {});
        const std::vector<uint8_t> image(5000, 0x5A);
        std::vector<uint8_t> header {'F', 'P', 'G', 'A'};
        const auto size = le32(uint32_t(image.size() - (damage == 3 ? 1 : 0)));
        header.insert(header.end(), size.begin(), size.end());
        const auto crc = le32(vdev::crc32Update(0, header.data(), 8) ^ (damage == 1 ? 1 : 0));
        header.insert(header.end(), crc.begin(), crc.end());
        const auto trailer = le32(vdev::crc32Update(0, image.data(), image.size()) ^ (damage == 2));

        QTEST((QList<int> {out(device, 0xC1), out(device, 0xC2, header),
                  out(device, 0xC2, std::vector<uint8_t>(image.begin(), image.begin() + 4096)),
                  out(device, 0xC2, std::vector<uint8_t>(image.begin() + 4096, image.end())),
                  out(device, 0xC2, trailer), out(device, 0xC3)}),
            "results");
        QCOMPARE(device.flash().fpgaCommits(), 0);
        QVERIFY(device.flash().fpgaFlash().empty());
    }

    // The old handle of a restarted device is dead; the device comes back on its port under a
    // new address and the sandbox id. (The update tests rely on both: a product that kept the
    // old handle or the old address would pass otherwise.)
    void restartComesBackOnTheBus_data()
    {
        QTest::addColumn<int>("arrival");
        QTest::addColumn<int>("port");
        QTest::newRow("same port") << int(vdev::Arrival::SamePort) << 2;
        QTest::newRow("other port") << int(vdev::Arrival::OtherPort) << 3;
    }

    void restartComesBackOnTheBus()
    {
        QFETCH(int, arrival);
        QFETCH(int, port);
        vusb::Bus &bus = vusb::Bus::instance();
        NorbyDevice::Config config;
        config.familyId = 0x3630;
        config.state = NorbyState::SoftRepair;
        config.restart = {std::chrono::milliseconds(20), vdev::Arrival(arrival)};
        const auto node = bus.plug(bus.addRootHub(1), 2, std::make_shared<NorbyDevice>(config));
        const uint8_t oldAddress = bus.address(node);
        {
            UsbHandle handle;
            QCOMPARE(handle.open(testsupport::deviceOf(node).get()), 0);
            QCOMPARE(
                libusb_control_transfer(handle.get(), 0x40, 0xA0, 0, 0x4000, nullptr, 0, 1000), 0);
            QVERIFY(!bus.attached(node));
            uint8_t byte = 0;
            QCOMPARE(libusb_control_transfer(handle.get(), 0xC0, 0xC8, 0, 0, &byte, 1, 1000),
                int(LIBUSB_ERROR_NO_DEVICE));
        }
        QTRY_VERIFY_WITH_TIMEOUT(bus.attached(node), 2000);
        const DeviceDescription desc = testsupport::describe(node);
        QCOMPARE(desc.productId, uint16_t(0x363F));
        QCOMPARE(desc.portPath, std::vector<uint8_t> {uint8_t(port)});
        QVERIFY(desc.deviceAddress != oldAddress);
    }
};

QTEST_GUILESS_MAIN(tst_Virtual)
#include "tst_virtual.moc"
