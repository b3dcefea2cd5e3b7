// What the libusb emulation of virtual/bus copies from the real library, asked of the real
// one (1.0.26's Linux backend) on devices it cannot tell from real ones. tst_virtual asks the
// emulation the same questions (tests/support/libusbexchange.h) and expects the same answers.

#include "libusbexchange.h"
#include "norbydevice.h"
#include "tier.h"
#include "usbdevicelist.h"

#include <QtTest>
#include <libusb.h>

class tst_UsbfsRules : public tier::TierTestCase
{
    Q_OBJECT

private slots:
    void answers_data() { testsupport::libusbExchangeRows(); }

    void answers()
    {
        const tier::Topology t = tier::Topology::build(bus());
        const usbfs::NodeId node
            = bus().plug(t.hub3, 1, vdev::NorbyDevice::make(0x3600, vdev::NorbyState::Application));
        testsupport::checkLibusbExchange(
            tier::deviceAt(bus(), node).get(), [&](const QString &step) {
                if (const auto fault = testsupport::exchangeFault(step))
                    bus().failRequest(node, *fault);
                else if (step == "driver")
                    bus().setKernelDriver(node, "uvcvideo");
                else
                    bus().unplug(node);
            });
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

    void strings_data() { testsupport::libusbStringRows(); }

    void strings()
    {
        QFETCH(QByteArray, text);
        const tier::Topology t = tier::Topology::build(bus());
        vdev::NorbyDevice::Config config;
        config.product = text.toStdString();
        const usbfs::NodeId node
            = bus().plug(t.hub3, 1, std::make_shared<vdev::NorbyDevice>(config));
        testsupport::checkLibusbString(
            tier::deviceAt(bus(), node).get(), vdev::NorbyDevice::ProductIndex);
    }
};

QTEST_GUILESS_MAIN(tst_UsbfsRules)
#include "tst_usbfsrules.moc"
