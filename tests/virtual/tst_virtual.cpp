// The virtual bus and the device models are tested only where a fault in them would hide a
// fault of the product: the error texts and strings the product shows to users, the accounting
// that fails a test on a leak or a misuse, the checks a model makes of what the host sends (a
// model that accepted a bad FPGA frame would hide exactly the faults the update tests are there
// to catch), and a device's restart on the bus. The boot loader's RAM is read back by the
// product itself; tst_updatetask compares it too.

#include "bustestcase.h"
#include "crc32.h"
#include "norbydevice.h"
#include "usbhandle.h"

#include <QtTest>
#include <libusb.h>

#include <cstring>
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
        NorbyDevice::Config config;
        config.product = std::string("Caf\xc3\xa9 long name");
        bus.plug(bus.addRootHub(1), 1, std::make_shared<NorbyDevice>(config));
        libusb_device **list = nullptr;
        QCOMPARE(libusb_get_device_list(nullptr, &list), ssize_t(2));
        libusb_device *device = list[1];
        libusb_device_handle *handle = nullptr;
        QCOMPARE(libusb_open(device, &handle), 0);
        QCOMPARE(libusb_claim_interface(handle, 0), 0);
        // Strings come as ASCII, '?' for each UTF-16 code unit beyond, cut to the buffer.
        unsigned char text[8] = {};
        QCOMPARE(libusb_get_string_descriptor_ascii(handle, NorbyDevice::ProductIndex, text, 8), 7);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(text)), QByteArray("Caf? lo"));

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

    // What the real library answers on Linux (tests/umockdev/tst_usbfsrules asks libusb 1.0.26
    // the same on emulated usbfs devices): each row is a short exchange with one device and
    // what libusb returned, in order.
    void answersAsTheRealLibrary_data()
    {
        QTest::addColumn<QString>("exchange");
        QTest::addColumn<QList<int>>("results");
        const int busy = LIBUSB_ERROR_BUSY, notFound = LIBUSB_ERROR_NOT_FOUND;
        const int noDevice = LIBUSB_ERROR_NO_DEVICE;
        QTest::newRow("claim while a kernel driver holds it")
            << "driver claim" << QList<int> {busy};
        QTest::newRow("claim while another handle holds it")
            << "other claim" << QList<int> {0, busy};
        QTest::newRow("attach while the kernel driver holds it")
            << "driver attach" << QList<int> {busy};
        QTest::newRow("detach, claim, release, attach")
            << "driver detach claim active release attach active" << QList<int> {0, 0, 0, 0, 0, 1};
        QTest::newRow("attach with no driver to bind")
            << "claim release attach" << QList<int> {0, 0, notFound};
        QTest::newRow("EDID of 32 blocks") << "edid edid4096 end" << QList<int> {0, 4096, 0};
        QTest::newRow("EDID of 33 blocks")
            << "edid edid4224 end" << QList<int> {0, LIBUSB_ERROR_INVALID_PARAM, 0};
        QTest::newRow("unplugged while open") << "claim unplug transfer release attach"
                                              << QList<int> {0, noDevice, noDevice, noDevice};
    }

    void answersAsTheRealLibrary()
    {
        QFETCH(QString, exchange);
        vusb::Bus &bus = vusb::Bus::instance();
        const testsupport::Topology t = testsupport::Topology::build();
        const vusb::NodeId node
            = bus.plug(t.hub, 1, NorbyDevice::make(0x3600, NorbyState::Application));
        const UsbDeviceRef device = testsupport::deviceOf(node);
        UsbHandle handle;
        UsbHandle other;
        QCOMPARE(handle.open(device.get()), 0);
        QList<int> results;
        for (const QString &step : exchange.split(' ')) {
            std::vector<uint8_t> data(4224, 0);
            if (step == "driver")
                bus.setKernelDriverActive(node, true);
            else if (step == "other")
                results << (other.open(device.get()) != 0 ? LIBUSB_ERROR_OTHER
                                                          : libusb_claim_interface(other.get(), 0));
            else if (step == "claim")
                results << libusb_claim_interface(handle.get(), 0);
            else if (step == "release")
                results << libusb_release_interface(handle.get(), 0);
            else if (step == "attach")
                results << libusb_attach_kernel_driver(handle.get(), 0);
            else if (step == "detach")
                results << libusb_detach_kernel_driver(handle.get(), 0);
            else if (step == "active")
                results << libusb_kernel_driver_active(handle.get(), 0);
            else if (step == "unplug")
                bus.unplug(node);
            else if (step == "edid")
                results << libusb_control_transfer(
                    handle.get(), 0x40, 0xCF, 0, 0, nullptr, 0, 1000);
            else if (step.startsWith("edid"))
                results << libusb_control_transfer(handle.get(), 0x40, 0xD2, 0, 0, data.data(),
                    uint16_t(step.mid(4).toInt()), 1000);
            else if (step == "end")
                results << libusb_control_transfer(
                    handle.get(), 0x40, 0xD4, 0, 0, nullptr, 0, 1000);
            else if (step == "transfer")
                results << libusb_control_transfer(
                    handle.get(), 0xC0, 0xC8, 0, 0, data.data(), 1, 1000);
        }
        QTEST(results, "results");
        if (other)
            libusb_release_interface(other.get(), 0);
    }

    // A string descriptor is UTF-16: one '?' for each code unit beyond ASCII.
    void stringsAsTheRealLibrary_data()
    {
        QTest::addColumn<QByteArray>("text"); // UTF-8
        QTest::addColumn<int>("buffer");
        QTest::addColumn<QByteArray>("ascii");
        QTest::newRow("two-byte character")
            << QByteArray("Caf\xc3\xa9 long name") << 8 << QByteArray("Caf? lo");
        QTest::newRow("outside the basic plane") << QByteArray("A\xf0\x9f\x8e\xa5"
                                                               "B")
                                                 << 32 << QByteArray("A??B");
        QTest::newRow("ASCII") << QByteArray("KESTREL3") << 128 << QByteArray("KESTREL3");
    }

    void stringsAsTheRealLibrary()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, buffer);
        vusb::Bus &bus = vusb::Bus::instance();
        NorbyDevice::Config config;
        config.product = text.toStdString();
        const vusb::NodeId node
            = bus.plug(bus.addRootHub(1), 1, std::make_shared<NorbyDevice>(config));
        UsbHandle handle;
        QCOMPARE(handle.open(testsupport::deviceOf(node).get()), 0);
        std::vector<unsigned char> ascii(size_t(buffer), 0xFF);
        const int length = libusb_get_string_descriptor_ascii(
            handle.get(), NorbyDevice::ProductIndex, ascii.data(), buffer);
        QTEST(QByteArray(reinterpret_cast<const char *>(ascii.data())), "ascii");
        QCOMPARE(length, int(std::strlen(reinterpret_cast<const char *>(ascii.data()))));
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
        QTRY_VERIFY_WITH_TIMEOUT(bus.attached(node), 2000);
        const DeviceDescription desc = testsupport::describe(node);
        QCOMPARE(desc.productId, uint16_t(0x363F));
        QCOMPARE(desc.portPath, std::vector<uint8_t> {uint8_t(port)});
        QVERIFY(desc.deviceAddress != oldAddress);
    }
};

QTEST_GUILESS_MAIN(tst_Virtual)
#include "tst_virtual.moc"
