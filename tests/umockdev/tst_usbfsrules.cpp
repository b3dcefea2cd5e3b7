// What the libusb emulation of virtual/bus copies from the real library, asked of the real
// one (1.0.26's Linux backend) on devices it cannot tell from real ones. tst_virtual asks the
// emulation the same questions (tests/support/libusbexchange.h) and expects the same answers.

#include "libusbexchange.h"
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
        const usbfs::NodeId node = bus().plug(t.hub3, 1, testsupport::exchangeDevice());
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
};

QTEST_GUILESS_MAIN(tst_UsbfsRules)
#include "tst_usbfsrules.moc"
