#include "bustestcase.h"
#include "devicerequests.h"
#include "devicesettings.h"
#include "norbydevice.h"

#include <QtTest>

using namespace std::chrono_literals;
using vdev::NorbyState;

Q_DECLARE_METATYPE(SettingsResult)

namespace {

// One settings result in a line: how it ended, the first failure, the switches read as letters
// (Aspect ratio, Performance, audio selector Multichannel; "-" off), the modes read.
QString summary(const SettingsResult &r)
{
    QString line = r.ok ? "ok" : r.unanswered ? "unanswered" : "failed";
    if (!r.error.isEmpty())
        line += " (" + r.error + ')';
    line += QString(" %1%2%3")
                .arg(r.switches[AspectRatioSwitch] ? 'A' : '-')
                .arg(r.switches[PerformanceSwitch] ? 'P' : '-')
                .arg(r.switches[AudioSelectorSwitch] ? 'M' : '-');
    for (int i = 0; i < r.modesRead; ++i)
        line += QString(" %1x%2%3")
                    .arg(r.modes[i].width)
                    .arg(r.modes[i].height)
                    .arg(r.modes[i].disabled ? "-" : "");
    return line;
}

const UserModes modes {{{1920, 1080, 0}, {1280, 720, 1}, {65535, 1, 0}}};
const QString pipe = " status: Pipe error";

} // namespace

// What the window and the command-line tool share: the device settings as whole requests, on the
// virtual bus. (The input-signal poll is walked by tests/ui's tst_devicepages, its texts are
// tests/config's; the named steps of an update are tests/blackbox's tst_cli, update.)
class tst_Session : public testsupport::BusTestCase
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<SettingsResult>(); }
    void init()
    {
        testsupport::BusTestCase::init();
        // OSPREYX3 offers every settings block.
        device_ = vdev::NorbyDevice::make(0x3620, NorbyState::Application);
        node_ = vusb::Bus::instance().plug(testsupport::Topology::build().hub, 1, device_);
    }

    void settings_data()
    {
        QTest::addColumn<QString>("job"); // "read"/"write" "switches"/"modes", and the switches
        QTest::addColumn<int>("failing"); // the occurrence of the job's request that fails
        QTest::addColumn<QStringList>("wire");
        QTest::addColumn<QString>("result");

        const QString flagsRead = "c0 e2 0 0 1 1000: ";
        const QStringList modeReads {"c0 b3 0 0 5 1000: 80 07 38 04 00",
            "c0 b3 0 1 5 1000: 00 05 d0 02 01", "c0 b3 0 2 5 1000: ff ff 01 00 00"};
        const QStringList modeWrites {"40 b3 0 0 5 1000: 40 01 f0 00 00",
            "40 b3 0 1 5 1000: 00 00 00 00 01", "40 b3 0 2 5 1000: 00 0f 70 08 00"};
        const auto row = [](const char *name, const char *job, int failing, const QStringList &wire,
                             const QString &result) {
            QTest::newRow(name) << QString(job) << failing << wire << result;
        };
        // The device's flags are 0x16 (all three) unless the job says otherwise.
        row("read all", "read switches", 0, {flagsRead + "16"}, "ok APM");
        // Bits of the firmware's own do not show as switches.
        row("read the firmware's bits", "read switches e9", 0, {flagsRead + "e9"}, "ok ---");
        row("read fails", "read switches", 1, {flagsRead},
            "unanswered (Error retreiving config device data: req=226," + pipe + ") ---");
        row("write performance", "write switches -P-", 0, {"40 e3 0 0 1 1000: 04"}, "ok ---");
        row("write fails", "write switches A-M", 1, {"40 e3 0 0 1 1000: 12"},
            "failed (Error setting device flags: Pipe error) ---");
        row("read modes", "read modes", 0, modeReads, "ok --- 1920x1080 1280x720- 65535x1");
        // One after another, stopping at the first failure.
        row("read of mode 2 fails", "read modes", 2, {modeReads[0], "c0 b3 0 1 5 1000: "},
            "unanswered (Error retreiving config device data: req=179," + pipe + ") --- 1920x1080");
        row("write modes", "write modes", 0, modeWrites, "ok ---");
        row("write of mode 2 fails", "write modes", 2, modeWrites.mid(0, 2),
            "failed (Error setting device flags: Pipe error) ---");
    }

    void settings()
    {
        QFETCH(QString, job);
        QFETCH(int, failing);
        vusb::Bus &bus = vusb::Bus::instance();
        bus.locked([&] {
            device_->settings().setFlags(job.endsWith("e9") ? 0xE9 : 0x16);
            for (uint16_t i = 0; i < UserModeCount; ++i) {
                const UserMode &m = modes[i];
                device_->settings().setUserMode(i,
                    {uint8_t(m.width), uint8_t(m.width >> 8), uint8_t(m.height),
                        uint8_t(m.height >> 8), m.disabled});
            }
        });
        const uint8_t request = job.contains("modes") ? 0xB3 : job.startsWith("read") ? 0xE2 : 0xE3;
        if (failing)
            bus.failRequest(node_, {request, failing, 1});

        DeviceRequests requests;
        DeviceSettings settings(requests);
        QSignalSpy finished(&settings, &DeviceSettings::finished);
        const DeviceDescription desc = testsupport::describe(node_);
        if (job.startsWith("read switches"))
            settings.readSwitches(desc);
        else if (job.startsWith("write switches"))
            settings.writeSwitches(
                desc, {job.endsWith("A-M"), job.endsWith("-P-"), job.endsWith("A-M")});
        else if (job == "read modes")
            settings.readUserModes(desc);
        else
            settings.writeUserModes(desc, {{{320, 240, 0}, {0, 0, 1}, {3840, 2160, 0}}});
        QVERIFY(finished.wait(5000));
        QVERIFY(!finished.wait(50)); // exactly one end
        QTEST(summary(finished.at(0).at(0).value<SettingsResult>()), "result");
        QTEST(testsupport::wire(node_), "wire");
    }

private:
    std::shared_ptr<vdev::NorbyDevice> device_;
    vusb::NodeId node_ = -1;
};

QTEST_GUILESS_MAIN(tst_Session)
#include "tst_session.moc"
