// What the libusb emulation of virtual/bus copies from the real library, asked of the real
// one (1.0.26's Linux backend) on devices it cannot tell from real ones. tst_virtual asks the
// emulation the same questions (tests/support/libusbexchange.h) and expects the same answers.

#include "libusbexchange.h"
#include "norbydevice.h"
#include "tier.h"

#include <QtTest>

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
