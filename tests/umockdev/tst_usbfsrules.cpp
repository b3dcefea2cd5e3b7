// What the libusb emulation of virtual/bus copies from the real library, asked of the real
// one (1.0.26's Linux backend) on devices it cannot tell from real ones. tst_virtual asks the
// emulation the same questions and expects the same answers.

#include "norbydevice.h"
#include "tier.h"
#include "usbdevicelist.h"
#include "usbhandle.h"

#include <QtTest>
#include <libusb.h>

#include <cstring>

namespace {

// The device at `node`, with a reference of its own.
UsbDeviceRef deviceAt(usbfs::Bus &bus, usbfs::NodeId node)
{
    UsbDeviceList list;
    list.fetch();
    for (ssize_t i = 0; i < list.size(); ++i) {
        if (libusb_get_bus_number(list.at(i)) == bus.busNumber(node)
            && libusb_get_device_address(list.at(i)) == bus.address(node))
            return UsbDeviceRef(list.at(i));
    }
    return UsbDeviceRef();
}

} // namespace

class tst_UsbfsRules : public tier::TierTestCase
{
    Q_OBJECT

private slots:
    // Each row is a short exchange with one device and what libusb returned, in order.
    void answers_data()
    {
        QTest::addColumn<QString>("exchange");
        QTest::addColumn<QList<int>>("results");
        const int busy = LIBUSB_ERROR_BUSY, notFound = LIBUSB_ERROR_NOT_FOUND;
        const int noDevice = LIBUSB_ERROR_NO_DEVICE;
        // A kernel driver on interface 0 keeps it: usbfs refuses the claim, and will not bind
        // the driver again while it is bound.
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
        // libusb's Linux backend sends at most 4096 bytes of data in one control transfer (an
        // EDID of 32 blocks); longer ones never reach the device.
        QTest::newRow("EDID of 32 blocks") << "edid edid4096 end" << QList<int> {0, 4096, 0};
        QTest::newRow("EDID of 33 blocks")
            << "edid edid4224 end" << QList<int> {0, LIBUSB_ERROR_INVALID_PARAM, 0};
        QTest::newRow("unplugged while open") << "claim unplug transfer release attach"
                                              << QList<int> {0, noDevice, noDevice, noDevice};
    }

    void answers()
    {
        QFETCH(QString, exchange);
        const tier::Topology t = tier::Topology::build(bus());
        const usbfs::NodeId node
            = bus().plug(t.hub3, 1, vdev::NorbyDevice::make(0x3600, vdev::NorbyState::Application));
        const UsbDeviceRef device = deviceAt(bus(), node);
        UsbHandle handle;
        UsbHandle other;
        QCOMPARE(handle.open(device.get()), 0);
        QList<int> results;
        for (const QString &step : exchange.split(' ')) {
            std::vector<uint8_t> data(4224, 0);
            if (step == "driver")
                bus().setKernelDriver(node, "uvcvideo");
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
                bus().unplug(node);
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

    // Devices as libusb_get_device_list lists them: the one that arrived last comes first.
    void listOrder()
    {
        const tier::Topology t = tier::Topology::build(bus());
        for (uint8_t port : {2, 1, 3})
            bus().plug(
                t.hub3, port, vdev::NorbyDevice::make(0x3600, vdev::NorbyState::Application));
        UsbDeviceList list;
        QStringList order;
        const ssize_t count = list.fetch();
        for (ssize_t i = 0; i < count; ++i) {
            uint8_t path[8] = {};
            const int ports = libusb_get_port_numbers(list.at(i), path, 8);
            QStringList text;
            for (int p = 0; p < ports; ++p)
                text << QString::number(path[p]);
            order << QString::number(libusb_get_bus_number(list.at(i))) + "-" + text.join('.');
        }
        QCOMPARE(order, QStringList({"2-3.3", "2-3.1", "2-3.2", "2-3", "1-3", "2-", "1-"}));
    }

    // A string descriptor is UTF-16: libusb puts one '?' for each code unit beyond ASCII, and
    // cuts the text to the buffer.
    void strings_data()
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

    void strings()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, buffer);
        const tier::Topology t = tier::Topology::build(bus());
        vdev::NorbyDevice::Config config;
        config.product = text.toStdString();
        const usbfs::NodeId node
            = bus().plug(t.hub3, 1, std::make_shared<vdev::NorbyDevice>(config));
        UsbHandle handle;
        QCOMPARE(handle.open(deviceAt(bus(), node).get()), 0);
        std::vector<unsigned char> ascii(size_t(buffer), 0xFF);
        const int length = libusb_get_string_descriptor_ascii(
            handle.get(), vdev::NorbyDevice::ProductIndex, ascii.data(), buffer);
        QTEST(QByteArray(reinterpret_cast<const char *>(ascii.data())), "ascii");
        QCOMPARE(length, int(std::strlen(reinterpret_cast<const char *>(ascii.data()))));
    }
};

QTEST_GUILESS_MAIN(tst_UsbfsRules)
#include "tst_usbfsrules.moc"
