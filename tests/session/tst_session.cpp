#include "bustestcase.h"
#include "devicerequests.h"
#include "devicesettings.h"
#include "norbydevice.h"
#include "updatehistory.h"
#include "updatejob.h"
#include "updatepackages.h"

#include <QtTest>

#include <sys/stat.h>
#include <thread>

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

// `count` history records of the writer `name` (serials NAME-0...), each some 400 bytes.
void appendRecords(const QString &name, int count)
{
    for (int i = 0; i < count; ++i) {
        updatehistory::append(
            {updatehistory::now(), "cli", "KESTREL3", "2-3.1", name + '-' + QString::number(i),
                "3.2.1", "/tmp/kestrel3.fw", QByteArray(64, 'a'), false, QString(150, 'e')});
    }
}

// The permission bits of `path`.
int mode(const QString &path)
{
    struct stat st {
    };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

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

    void history_data()
    {
        QTest::addColumn<QString>("setup"); // the package's (writeUpdatePackage), or "fault"
        QTest::addColumn<QString>("error"); // how the first error starts; empty: success
        QTest::newRow("updated") << ""
                                 << "";
        QTest::newRow("damaged package") << "crc fpga"
                                         << "Error: failed to read FPGA image";
        QTest::newRow("flash fails") << "fault"
                                     << "Error: failed to complete FPGA reflash";
        QTest::newRow("no package") << "no package"
                                    << "Cannot open firmware package";
    }

    // The record an update leaves, in the history by the time the front end hears the end; the
    // state folder (made where missing) and the file are the user's alone.
    void history()
    {
        QFETCH(QString, setup);
        QFETCH(QString, error);
        const QTemporaryDir state;
        qputenv("XDG_STATE_HOME", QFile::encodeName(state.filePath("xdg")));
        testsupport::ZipPackage zip;
        const QString path
            = testsupport::writeUpdatePackage(zip, "ospreyx3", setup == "fault" ? "" : setup);
        if (setup == "fault")
            vusb::Bus::instance().failRequest(node_, {0xC3, 1, 1});
        DeviceDescription desc = testsupport::describe(node_);
        std::tie(desc.product, desc.serial, desc.version)
            = std::make_tuple("OSPREYX3", "OX3C0417", "3.4.0"); // as a scan reads them
        UpdateJob job(nullptr, {0ms, 0ms, 0ms, 2000ms});
        std::vector<QJsonObject> atEnd;
        connect(&job, &UpdateJob::complete, [&] { atEnd = updatehistory::read({}); });
        QSignalSpy complete(&job, &UpdateJob::complete);
        job.start(desc, path);
        QVERIFY(complete.wait(10000));
        QCOMPARE(atEnd.size(), std::size_t(1));

        QJsonObject record = atEnd.front();
        QVERIFY(QRegularExpression(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$)")
                    .match(record.take("time").toString())
                    .hasMatch());
        const QJsonValue text = record.take("error");
        QVERIFY2(error.isEmpty() ? text.isNull() : text.toString().startsWith(error),
            qPrintable(text.toString()));
        QFile file(path);
        const QJsonValue sha = file.open(QIODevice::ReadOnly)
            ? QJsonValue(QString(
                QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex()))
            : QJsonValue();
        QCOMPARE(record,
            (QJsonObject {{"program", "window"}, {"product", "OSPREYX3"}, {"port", "2-3.1"},
                {"serial", "OX3C0417"}, {"versionBefore", "3.4.0"}, {"package", path},
                {"sha256", sha}, {"result", error.isEmpty() ? "success" : "failure"}}));
        QCOMPARE(mode(state.filePath("xdg")), 0700);
        QCOMPARE(mode(updatehistory::folder()), 0700);
        QCOMPARE(mode(updatehistory::filePath()), 0600);
    }

    // Eight threads and a second process append at once, across the rotation: every record
    // arrives whole, and once.
    void historyWriters()
    {
        const QTemporaryDir state;
        qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
        QProcess other; // this program again, as a writer
        other.start(QCoreApplication::applicationFilePath(), {"--append-history", "P", "800"});
        QVERIFY(other.waitForStarted(5000));
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t)
            threads.emplace_back([t] { appendRecords(QString("T%1").arg(t), 400); });
        for (std::thread &thread : threads)
            thread.join();
        QVERIFY(other.waitForFinished(60000));
        QCOMPARE(other.exitCode(), 0);

        int damaged = 0;
        const std::vector<QJsonObject> records
            = updatehistory::read([&](const QString &, int) { ++damaged; });
        QSet<QString> serials;
        for (const QJsonObject &record : records)
            serials.insert(record.value("serial").toString());
        QCOMPARE(damaged, 0);
        QCOMPARE(int(records.size()), 8 * 400 + 800);
        QCOMPARE(serials.size(), 8 * 400 + 800);
        // Some 1.6 MB: rotated once, just past the bound.
        const qint64 rotated = QFileInfo(updatehistory::filePath() + ".1").size();
        QVERIFY2(rotated > updatehistory::rotateBytes && rotated < updatehistory::rotateBytes + 512,
            qPrintable(QString::number(rotated)));
        QVERIFY(QFileInfo(updatehistory::filePath()).size() <= updatehistory::rotateBytes);
    }

private:
    std::shared_ptr<vdev::NorbyDevice> device_;
    vusb::NodeId node_ = -1;
};

// "--append-history NAME COUNT": the second writer of historyWriters.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && qstrcmp(argv[1], "--append-history") == 0) {
        appendRecords(argv[2], std::atoi(argv[3]));
        return 0;
    }
    tst_Session test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_session.moc"
