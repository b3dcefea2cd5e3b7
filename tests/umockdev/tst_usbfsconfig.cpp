// The configuration engine on the real libusb: reads and writes of the three blocks. Its
// failures are the virtual bus's (tst_config, the fault matrix) and both libusbs' (the exchange
// table's "leaves during a request" and "never answers").

#include "configdeviceactions.h"
#include "configdevicetask.h"
#include "norbydevice.h"
#include "tier.h"

#include <QtTest>

#include <memory>

namespace {

// The results of one task in arrival order, as text.
class Recorder : public QObject
{
public:
    explicit Recorder(ConfigDeviceBase &source)
    {
        connect(&source, &ConfigDeviceBase::getRequestComplete, this,
            [this](uint8_t request, const ConfigDeviceDataPtr &ptr, uint16_t size) {
                const QByteArray data(reinterpret_cast<const char *>(ptr.data()), ptr ? size : 0);
                lines << QString::number(request) + " get "
                        + (ptr ? data.toHex(' ') : QByteArray("null")) + ' '
                        + QString::number(size);
            });
        connect(&source, &ConfigDeviceBase::setRequestComplete, this,
            [this](uint8_t request) { lines << QString::number(request) + " set"; });
        connect(
            &source, &ConfigDeviceBase::error, this, [this](uint8_t request, const QString &text) {
                lines << QString::number(request) + " error " + text;
            });
    }

    // Whether `count` results have arrived within a bound, and no more.
    bool waitFor(int count)
    {
        return QTest::qWaitFor([&] { return lines.size() >= count; }, 10000)
            && lines.size() == count;
    }

    QStringList lines;
};

} // namespace

class tst_UsbfsConfig : public tier::TierTestCase
{
    Q_OBJECT

    std::shared_ptr<vdev::NorbyDevice> model_;
    usbfs::NodeId node_ = -1;
    DeviceDescription desc_;

private slots:
    void init()
    {
        TierTestCase::init();
        const tier::Topology t = tier::Topology::build(bus());
        model_ = vdev::NorbyDevice::make(0x3620, vdev::NorbyState::Application);
        node_ = bus().plug(t.hub3, 2, model_);
        desc_ = tier::describe(bus(), node_);
        QVERIFY(desc_.vendorId != 0);
    }

    void cleanup()
    {
        // The description holds references of its own (the hub above the device).
        desc_ = DeviceDescription();
        model_.reset();
        TierTestCase::cleanup();
    }

    // Requests run in order, each with an open of its own; what the device holds afterwards
    // is what was written, and a user mode it does not have is stalled.
    void readsAndWrites()
    {
        bus().locked([&] {
            model_->settings().setFlags(0x16);
            model_->settings().setUserMode(2, {0xE0, 0x01, 0x10, 0x01, 0x01});
        });
        ConfigDeviceTask task;
        DeviceFlagsAction flags(&task);
        InputStatusAction input(&task);
        UserModeAction modes(&task);
        Recorder recorder(task);
        flags.get(desc_);
        input.get(desc_);
        modes.get(desc_, 0xB3, 2);
        modes.set(desc_, UserMode {640, 480, 0}, 0xB3, 1);
        flags.set(desc_, 0x04);
        modes.get(desc_, 0xB3, 3);
        QVERIFY(recorder.waitFor(7));

        const QString zeros = QByteArray(29, 0).toHex(' ');
        QCOMPARE(recorder.lines,
            QStringList({"226 get 16 1", "178 get " + zeros + " 29", "179 get e0 01 10 01 01 5",
                "179 set", "227 set",
                "179 error Error retreiving config device data: req=179, status: Pipe error",
                "179 get null 0"}));
        QCOMPARE(tier::wire(bus(), node_),
            QStringList({"c0 e2 0 0 1: 16 -> 1", "c0 b2 0 0 29: " + zeros + " -> 29",
                "c0 b3 0 2 5: e0 01 10 01 01 -> 5", "40 b3 0 1 5: 80 02 e0 01 00 -> 5",
                "40 e3 0 0 1: 04 -> 1", "c0 b3 0 3 5:  -> -9"}));
        const std::vector<std::string> calls = bus().calls(node_);
        QCOMPARE(int(std::count(calls.begin(), calls.end(), "open")), 6);
        bus().locked([&] {
            QCOMPARE(model_->settings().flags(), uint8_t(0x04));
            const auto mode = model_->settings().userMode(1);
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(mode.data()), 5).toHex(' '),
                QByteArray("80 02 e0 01 00"));
        });
    }
};

QTEST_GUILESS_MAIN(tst_UsbfsConfig)
#include "tst_usbfsconfig.moc"
