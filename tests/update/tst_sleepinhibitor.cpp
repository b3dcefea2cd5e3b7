#include "rig.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QProcess>
#include <QTemporaryDir>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

const QString login1 = QStringLiteral("org.freedesktop.login1");
// What logind lists for the lock of a run: what, who, why and mode.
const QString runLock = QStringLiteral(
    "sleep:shutdown|Lumexor Capture Config|Updating the firmware of a capture device|block");
constexpr int processTimeoutMs = 10000;

// logind's locks, "what|who|why|mode" each; the error, when one came instead. The mock answers
// in milliseconds, unless it is stopped.
QStringList inhibitors()
{
    const QDBusMessage reply = QDBusConnection::systemBus().call(
        QDBusMessage::createMethodCall(login1, QStringLiteral("/org/freedesktop/login1"),
            "org.freedesktop.login1.Manager", "ListInhibitors"),
        QDBus::Block, 2000);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return {"error: " + reply.errorName()};
    QStringList texts;
    const QDBusArgument list = reply.arguments().value(0).value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        QString what, who, why, mode;
        uint uid = 0, pid = 0;
        list.beginStructure();
        list >> what >> who >> why >> mode >> uid >> pid;
        list.endStructure();
        texts << QStringList {what, who, why, mode}.join('|');
    }
    list.endArray();
    return texts;
}

// The bus daemon and the mock go with the test process, also when it crashes or is killed
// half-way: nothing is left running on a CI machine, nor stopped.
class ChildProcess : public QProcess
{
public:
    void stop()
    {
        ::kill(processId(), SIGCONT); // a stopped process holds its SIGTERM back
        terminate();
        if (!waitForFinished(processTimeoutMs)) {
            kill();
            waitForFinished(processTimeoutMs);
        }
    }

protected:
    void setupChildProcess() override
    {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent_)
            _exit(1);
    }

private:
    const pid_t parent_ = getpid();
};

} // namespace

// The logind lock of an update run, against python3-dbusmock's logind on a bus of the test's
// own, which the process takes for its system bus.
class tst_SleepInhibitor : public BusTestCase
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (QString(LUMEXOR_DBUS_DAEMON).isEmpty())
            QSKIP("dbus-daemon not found (Debian package dbus, see scripts/install-deps test)");
        if (QString(LUMEXOR_PYTHON3).isEmpty())
            QSKIP("/usr/bin/python3 not found: logind's mock (python3-dbusmock) runs on it");
        QVERIFY(dir_.isValid());
        // No service files: nothing on this bus gets started on demand, logind included.
        QFile config(dir_.filePath("bus.conf"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(
            "<busconfig><type>system</type><listen>unix:path=" + dir_.filePath("bus").toUtf8()
            + "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow "
              "send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow "
              "own=\"*\"/></policy></busconfig>\n");
        config.close();
        daemon_.start(LUMEXOR_DBUS_DAEMON,
            {"--nofork", "--print-address", "--config-file=" + config.fileName()});
        QVERIFY2(
            QTest::qWaitFor(
                [this] { return daemon_.canReadLine() || daemon_.state() == QProcess::NotRunning; },
                processTimeoutMs),
            "dbus-daemon did not say its address");
        const QByteArray address = daemon_.readLine().trimmed();
        QVERIFY2(!address.isEmpty(), daemon_.readAllStandardError().constData());
        // Before the first systemBus(): the process keeps the connection it makes then.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
        QVERIFY2(QDBusConnection::systemBus().isConnected(),
            qPrintable(QDBusConnection::systemBus().lastError().message()));
    }

    void cleanupTestCase()
    {
        setMock(false);
        if (daemon_.state() != QProcess::NotRunning)
            daemon_.stop();
    }

    // With logind answering, one lock for every run, whichever way it ends, held from before
    // the package is opened until the run is over and given back then. With no lock to be had,
    // the run goes on without one, says why, and is not held up for longer than the Inhibit
    // call's own bound.
    void runs_data()
    {
        QTest::addColumn<QString>("logind"); // "answers", "hung" (on the bus, silent), "none"
        QTest::addColumn<QString>("setup"); // of the package, see writeUpdatePackage
        const auto row = [](const char *name, const char *logind, const char *setup = "") {
            QTest::newRow(name) << QString(logind) << QString(setup);
        };
        row("flashed", "answers");
        row("no package file", "answers", "no package");
        row("logind does not answer", "hung");
        row("no logind", "none");
    }

    void runs()
    {
        QFETCH(QString, logind);
        QFETCH(QString, setup);
        const bool device = setup.isEmpty(); // whether the run reaches the device
        setMock(logind != "none");
        if (QTest::currentTestFailed())
            return;
        // The lock is held around the whole run: a run failing at the device gives it back
        // as the one refused before the package does.
        UpdateRig rig("kestrel3", 0x3600, vdev::NorbyState::Application, setup);
        LogCapture log;
        // logind's locks as the worker sees them at every control transfer; read here only
        // once the worker is joined.
        QStringList seen;
        if (logind == "answers")
            rig.bus.setTransferObserver(
                [&seen](const vusb::TransferRecord &, vdev::UsbDeviceModel &) {
                    seen << inhibitors().join(", ");
                });
        if (logind == "hung")
            QCOMPARE(::kill(mock_.processId(), SIGSTOP), 0);
        const QStringList events = rig.run(processTimeoutMs);
        rig.bus.setTransferObserver(nullptr);
        if (logind == "hung")
            QCOMPARE(::kill(mock_.processId(), SIGCONT), 0);
        QCOMPARE(events.value(events.size() - 1), "complete");
        QCOMPARE(events.contains("100"), device);
        const QStringList lines = log.debug().filter("sleep inhibitor");
        if (logind == "answers") {
            // Listed alone at every transfer: taken once, and held all along until the last.
            QCOMPARE(!seen.isEmpty(), device);
            for (const QString &locks : seen)
                QCOMPARE(locks, runLock);
            QCOMPARE(lines, QStringList());
        } else {
            QCOMPARE(bytesOf(rig.device->flash().fx3Flash()), PackageImages().microcode);
            const QString reason = logind == "hung" ? "org.freedesktop.DBus.Error.NoReply"
                                                    : "org.freedesktop.DBus.Error.ServiceUnknown";
            QCOMPARE(lines.size(), 1);
            QVERIFY2(lines.first().startsWith("No sleep inhibitor: " + reason + ": "),
                qPrintable(lines.first()));
        }
        // logind drops the lock when the last copy of its descriptor is closed. A hung mock
        // gets to the call only once it runs again, before the test's own calls queued behind
        // it; the answer comes too late to be taken, and the descriptor in it must not keep
        // the lock.
        if (logind != "none")
            QVERIFY2(QTest::qWaitFor([] { return inhibitors().isEmpty(); }, processTimeoutMs),
                qPrintable(inhibitors().join(", ")));
    }

private:
    // Brings logind's mock up or down; fails the current test when its name does not follow.
    void setMock(bool up)
    {
        if (!up && mock_.state() != QProcess::NotRunning)
            mock_.stop();
        if (up && mock_.state() == QProcess::NotRunning) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.remove("PYTHONHOME");
            environment.remove("PYTHONPATH");
            mock_.setProcessEnvironment(environment);
            // It logs every call on stdout, which nobody reads while the test waits on D-Bus.
            mock_.setStandardOutputFile(QProcess::nullDevice());
            mock_.start(LUMEXOR_PYTHON3, {"-m", "dbusmock", "--template", "logind", "--system"});
        }
        const auto onBus = [] {
            const QDBusConnectionInterface *bus = QDBusConnection::systemBus().interface();
            return bus && bus->isServiceRegistered(login1).value();
        };
        QVERIFY2(QTest::qWaitFor([&] { return onBus() == up; }, processTimeoutMs),
            qPrintable(QString("logind's mock did not %1 (python3-dbusmock, see "
                               "scripts/install-deps test): ")
                           .arg(up ? "come up" : "go")
                + mock_.readAllStandardError()));
    }

    QTemporaryDir dir_;
    ChildProcess daemon_;
    ChildProcess mock_;
};

QTEST_GUILESS_MAIN(tst_SleepInhibitor)
#include "tst_sleepinhibitor.moc"
