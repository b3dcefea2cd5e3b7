// The bus itself is tested only where a fault in it would hide a fault of the product: the
// error texts the product shows to users, reference lifetimes, and re-enumeration.

#include "bustestcase.h"
#include "norbydevice.h"

#include <QThread>
#include <QtTest>
#include <libusb.h>

#include <dlfcn.h>

using vdev::NorbyDevice;
using vdev::NorbyState;

class tst_VirtualBus : public testsupport::BusTestCase
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

    void treeGivesPortPathsAndParents()
    {
        vusb::Bus &bus = vusb::Bus::instance();
        const testsupport::Topology t = testsupport::Topology::build();
        bus.plug(t.hub, 4, NorbyDevice::make(0x3600, NorbyState::Application));

        libusb_device **list = nullptr;
        QCOMPARE(libusb_get_device_list(nullptr, &list), ssize_t(4));
        libusb_device *root2 = list[1];
        libusb_device *hub = list[2];
        libusb_device *device = list[3];
        uint8_t path[8] = {};
        QCOMPARE(libusb_get_port_numbers(root2, path, 8), 0);
        QCOMPARE(libusb_get_parent(root2), nullptr);
        QCOMPARE(libusb_get_port_numbers(device, path, 8), 2);
        QCOMPARE(path[0], uint8_t(3));
        QCOMPARE(path[1], uint8_t(4));
        QCOMPARE(libusb_get_parent(device), hub);
        QCOMPARE(libusb_get_parent(hub), root2);
        QCOMPARE(libusb_get_port_numbers(device, path, 1), int(LIBUSB_ERROR_OVERFLOW));
        QCOMPARE(libusb_get_bus_number(device), uint8_t(2));
        QVERIFY(libusb_get_device_address(device) != libusb_get_device_address(hub));
        libusb_free_device_list(list, 1);
    }

    void stringsAreAsciiWithReplacement()
    {
        vusb::Bus &bus = vusb::Bus::instance();
        const auto root = bus.addRootHub(1);
        NorbyDevice::Config config;
        config.product = std::string("Caf\xc3\xa9 long name");
        const auto node = bus.plug(root, 1, std::make_shared<NorbyDevice>(config));
        libusb_device **list = nullptr;
        QCOMPARE(libusb_get_device_list(nullptr, &list), ssize_t(2));
        libusb_device_handle *handle = nullptr;
        QCOMPARE(libusb_open(list[1], &handle), 0);
        unsigned char text[8] = {};
        QCOMPARE(libusb_get_string_descriptor_ascii(handle, NorbyDevice::ProductIndex, text, 8), 7);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(text)), QByteArray("Caf?? l"));
        bus.failString(node, NorbyDevice::SerialIndex, LIBUSB_ERROR_TIMEOUT);
        QCOMPARE(libusb_get_string_descriptor_ascii(handle, NorbyDevice::SerialIndex, text, 8),
            int(LIBUSB_ERROR_TIMEOUT));
        QCOMPARE(libusb_get_string_descriptor_ascii(handle, 9, text, 8), int(LIBUSB_ERROR_PIPE));
        libusb_close(handle);
        libusb_free_device_list(list, 1);
    }

    void requestFaultsHitTheNthOccurrence()
    {
        vusb::Bus &bus = vusb::Bus::instance();
        const auto root = bus.addRootHub(1);
        const auto node = bus.plug(root, 1, NorbyDevice::make(0x3600, NorbyState::Application));
        bus.failRequest(node, {0xC8, 2, 2, LIBUSB_ERROR_TIMEOUT});
        libusb_device **list = nullptr;
        libusb_get_device_list(nullptr, &list);
        libusb_device_handle *handle = nullptr;
        QCOMPARE(libusb_open(list[1], &handle), 0);
        uint8_t status = 0;
        QList<int> results;
        for (int i = 0; i < 4; ++i)
            results << libusb_control_transfer(handle, 0xC0, 0xC8, 0, 0, &status, 1, 1000);
        QCOMPARE(results, (QList<int> {1, LIBUSB_ERROR_TIMEOUT, LIBUSB_ERROR_TIMEOUT, 1}));
        const auto log = bus.transfers(node);
        QCOMPARE(log.size(), size_t(4));
        QCOMPARE(log[1].result, int(LIBUSB_ERROR_TIMEOUT));
        QCOMPARE(log[0].timeout, 1000u);
        QCOMPARE(log[0].data, std::vector<uint8_t> {1});

        bus.unplugAfterTransfers(node, 1);
        QCOMPARE(libusb_control_transfer(handle, 0xC0, 0xC8, 0, 0, &status, 1, 1000), 1);
        QCOMPARE(libusb_control_transfer(handle, 0xC0, 0xC8, 0, 0, &status, 1, 1000),
            int(LIBUSB_ERROR_NO_DEVICE));
        QVERIFY(!bus.attached(node));
        libusb_close(handle);
        libusb_free_device_list(list, 1);
    }

    void driverDoubleFollowsItsScript()
    {
        vusb::Bus &bus = vusb::Bus::instance();
        const auto root = bus.addRootHub(1);
        const auto node = bus.plug(root, 1, NorbyDevice::make(0x3600, NorbyState::SoftRepair));
        bus.requireDriver(node);
        bus.scriptDriverInstall({-2, 0});
        libusb_device **list = nullptr;
        libusb_get_device_list(nullptr, &list);
        libusb_device_handle *handle = nullptr;
        QCOMPARE(libusb_open(list[1], &handle), int(LIBUSB_ERROR_NOT_SUPPORTED));
        QCOMPARE(install_winusb_driver_for_test(), -2);
        QCOMPARE(libusb_open(list[1], &handle), int(LIBUSB_ERROR_NOT_SUPPORTED));
        QCOMPARE(install_winusb_driver_for_test(), 0);
        QCOMPARE(libusb_open(list[1], &handle), 0);
        QCOMPARE(install_winusb_driver_for_test(), -1);
        QCOMPARE(bus.driverInstallCalls(), 3);
        libusb_close(handle);
        libusb_free_device_list(list, 1);
    }

private:
    static int install_winusb_driver_for_test();
};

#include "driverinstall.h"
int tst_VirtualBus::install_winusb_driver_for_test()
{
    return install_winusb_driver();
}

QTEST_GUILESS_MAIN(tst_VirtualBus)
#include "tst_virtualbus.moc"
