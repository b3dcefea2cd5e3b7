#include "bootimage.h"
#include "bustestcase.h"
#include "bytes.h"
#include "edidtext.h"
#include "logcapture.h"
#include "norbydevice.h"
#include "producttable.h"
#include "updatetask.h"
#include "zippackage.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

using namespace testsupport;
using namespace std::chrono_literals;

namespace {

const QString login1 = QStringLiteral("org.freedesktop.login1");
// What logind lists for the lock of a run: what, who, why and mode.
const QString runLock = QStringLiteral(
    "sleep:shutdown|Lumexor Capture Config|Updating the firmware of a capture device|block");
const QByteArray microcode = patternBytes(5000, 1);
// D-Bus calls of the test itself; the mock answers in milliseconds, unless it is stopped.
constexpr int callTimeoutMs = 2000;
constexpr int processTimeoutMs = 10000;

QDBusMessage callLogind(
    const QString &interface, const QString &method, const QVariantList &arguments = {})
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        login1, QStringLiteral("/org/freedesktop/login1"), interface, method);
    call.setArguments(arguments);
    return QDBusConnection::systemBus().call(call, QDBus::Block, callTimeoutMs);
}

// logind's locks, "what|who|why|mode" each, or the error that came instead.
QStringList inhibitors()
{
    const QDBusMessage reply
        = callLogind(QStringLiteral("org.freedesktop.login1.Manager"), "ListInhibitors");
    if (reply.type() != QDBusMessage::ReplyMessage)
        return {"error: " + reply.errorName()};
    QStringList locks;
    const QDBusArgument list = reply.arguments().value(0).value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        QString what, who, why, mode;
        uint uid = 0, pid = 0;
        list.beginStructure();
        list >> what >> who >> why >> mode >> uid >> pid;
        list.endStructure();
        locks << QStringList {what, who, why, mode}.join('|');
    }
    list.endArray();
    return locks;
}

// The arguments of every Inhibit call the mock received since the last ClearCalls, joined
// like inhibitors() does.
QStringList inhibitCalls()
{
    const QDBusMessage reply = callLogind(
        QStringLiteral("org.freedesktop.DBus.Mock"), "GetMethodCalls", {QStringLiteral("Inhibit")});
    if (reply.type() != QDBusMessage::ReplyMessage)
        return {"error: " + reply.errorName()};
    QStringList calls;
    const QDBusArgument list = reply.arguments().value(0).value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        qulonglong time = 0;
        QVariantList arguments;
        list.beginStructure();
        list >> time >> arguments;
        list.endStructure();
        QStringList texts;
        for (const QVariant &argument : arguments)
            texts << argument.toString();
        calls << texts.join('|');
    }
    list.endArray();
    return calls;
}

// The bus daemon and the mock go with the test process, also when it crashes or is killed
// half-way: nothing is left running on a CI machine, nor stopped.
class ChildProcess : public QProcess
{
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

bool logindOnBus()
{
    const QDBusConnectionInterface *bus = QDBusConnection::systemBus().interface();
    return bus && bus->isServiceRegistered(login1).value();
}

// A KESTREL3 in its application firmware and a package for it. `setup`: "unaligned"
// microcode, "no package" file, "fault c1": every start of the FPGA run stalls.
struct Rig {
    explicit Rig(const QString &setup)
    {
        const ProductInfo &row = productTable.at("kestrel3");
        package.add("product.info", "kestrel3\n");
        package.add(row.microcodeImage, setup == "unaligned" ? microcode + "xy" : microcode);
        package.add(row.fpgaImage, patternBytes(10000, 2), ZipPackage::Deflated);
        package.add(row.sandboxImage, bootImage({{0x40000000, patternBytes(600, 3)}}, 0x40));
        package.add(row.edidFile, edidText(makeEdid(2, 4)));
        path = setup == "no package" ? package.folder() + "/missing.fw" : package.write();

        device = vdev::NorbyDevice::make(0x3600, vdev::NorbyState::Application);
        node = bus.plug(Topology::build().hub, 2, device);
        desc = describe(node);
        desc.mode = Normal;
        if (setup == "fault c1")
            bus.failRequest(node, {0xC1, 1, -1});
    }

    // One run through a task of its own, which is gone (its thread joined) on return: progress
    // as numbers, "error: " with the text, "complete", and with `watchLock` logind's locks as
    // seen from the worker at every control transfer ("lock: " and the list). The worker posts
    // what it saw to this thread, so it lands among the run's signals in the order it happened.
    QStringList run(bool watchLock)
    {
        QStringList events;
        QObject receiver;
        if (watchLock)
            bus.setTransferObserver(
                [&receiver, &events](const vusb::TransferRecord &, vdev::UsbDeviceModel &) {
                    const QString seen = "lock: " + inhibitors().join(", ");
                    QMetaObject::invokeMethod(
                        &receiver, [&events, seen] { events << seen; }, Qt::QueuedConnection);
                });
        {
            UpdateTask task(nullptr, {0ms, 100ms, 0ms, 2000ms});
            QObject::connect(
                &task, &UpdateTask::progress, [&](int p) { events << QString::number(p); });
            QObject::connect(
                &task, &UpdateTask::error, [&](const QString &t) { events << "error: " + t; });
            QObject::connect(&task, &UpdateTask::complete, [&] { events << "complete"; });
            emit task.start(desc, path);
            // A run that does not end shows as the missing "complete".
            static_cast<void>(
                QTest::qWaitFor([&] { return events.contains("complete"); }, processTimeoutMs));
        }
        bus.setTransferObserver(nullptr);
        return events;
    }

    vusb::Bus &bus = vusb::Bus::instance();
    ZipPackage package;
    QString path;
    std::shared_ptr<vdev::NorbyDevice> device;
    vusb::NodeId node = -1;
    DeviceDescription desc;
};

} // namespace

// The logind lock of an update run, against python3-dbusmock's logind on a bus of the test's
// own, which the process takes for its system bus.
class tst_SleepInhibitor : public testsupport::BusTestCase
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (QString(LUMEXOR_DBUS_DAEMON).isEmpty())
            QSKIP("dbus-daemon not found (Debian package dbus, see scripts/install-deps)");
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
        stopMock();
        if (daemon_.state() != QProcess::NotRunning) {
            daemon_.terminate();
            if (!daemon_.waitForFinished(processTimeoutMs)) {
                daemon_.kill();
                daemon_.waitForFinished(processTimeoutMs);
            }
        }
    }

    // One lock for every run, whichever way it ends, held from before the package is opened
    // until the run is over and given back then.
    void locks_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("error"); // empty: flashed
        QTest::addColumn<bool>("device"); // whether the run reaches the device
        const auto row = [](const char *name, const char *setup, const char *error, bool device) {
            QTest::newRow(name) << QString(setup) << QString(error) << device;
        };
        row("flashed", "", "", true);
        row("transfer fails", "fault c1",
            "Error: failed to start FPGA reflashing: LIBUSB_ERROR_PIPE", true);
        row("package refused", "unaligned",
            "Error: microcode block does not aligned by 32 bit length: 906", false);
        row("no package file", "no package", "Cannot open firmware package: No such file", false);
    }

    void locks()
    {
        QFETCH(QString, setup);
        QFETCH(QString, error);
        QFETCH(bool, device);
        startMock();
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(inhibitors(), QStringList());
        QCOMPARE(callLogind("org.freedesktop.DBus.Mock", "ClearCalls").type(),
            QDBusMessage::ReplyMessage);
        Rig rig(setup);
        LogCapture log;

        const QStringList events = rig.run(true);
        QCOMPARE(events.value(events.size() - 1), "complete");
        QCOMPARE(events.count("complete"), 1);
        QCOMPARE(events.filter(QRegularExpression("^error: ")),
            error.isEmpty() ? QStringList() : QStringList {"error: " + error});
        QCOMPARE(events.contains("100"), error.isEmpty());
        // One Inhibit in every run, the runs refused before the device is opened included: the
        // lock comes first. A lock that was let go cannot come back without another Inhibit, so
        // being listed at the last transfer means held all along until then.
        QCOMPARE(inhibitCalls(), QStringList {runLock});
        const QStringList seen = events.filter(QRegularExpression("^lock: "));
        QCOMPARE(!seen.isEmpty(), device);
        for (const QString &locks : seen)
            QCOMPARE(locks, "lock: " + runLock);
        // logind drops the lock when the last copy of its descriptor is closed.
        QVERIFY2(QTest::qWaitFor([] { return inhibitors().isEmpty(); }, processTimeoutMs),
            qPrintable(inhibitors().join(", ")));
        QCOMPARE(log.debug().filter("sleep inhibitor"), QStringList());
    }

    // No lock to be had: the run goes on without one, says why, and is not held up for longer
    // than the Inhibit call's own bound.
    void withoutLock_data()
    {
        QTest::addColumn<bool>("hung"); // logind on the bus but not answering; else no logind
        QTest::addColumn<QString>("reason");
        QTest::newRow("logind does not answer") << true << "org.freedesktop.DBus.Error.NoReply";
        QTest::newRow("no logind") << false << "org.freedesktop.DBus.Error.ServiceUnknown";
    }

    void withoutLock()
    {
        QFETCH(bool, hung);
        QFETCH(QString, reason);
        if (hung)
            startMock();
        else
            stopMock();
        if (QTest::currentTestFailed())
            return;
        Rig rig("");
        LogCapture log;

        if (hung) {
            QCOMPARE(callLogind("org.freedesktop.DBus.Mock", "ClearCalls").type(),
                QDBusMessage::ReplyMessage);
            QCOMPARE(::kill(mock_.processId(), SIGSTOP), 0);
        }
        const QStringList events = rig.run(false);
        if (hung)
            QCOMPARE(::kill(mock_.processId(), SIGCONT), 0);
        QCOMPARE(events.value(events.size() - 1), "complete");
        QCOMPARE(events.filter(QRegularExpression("^error: ")), QStringList());
        QVERIFY(events.contains("100"));
        QCOMPARE(bytesOf(rig.device->flash().fx3Flash()), microcode);
        const QStringList lines = log.debug().filter("sleep inhibitor");
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().startsWith("No sleep inhibitor: " + reason + ": "),
            qPrintable(lines.first()));
        // The mock gets to the call only once it runs again; the answer comes too late to be
        // taken, and the descriptor in it must not keep the lock.
        if (hung)
            QVERIFY2(
                QTest::qWaitFor([] { return inhibitors().isEmpty() && inhibitCalls().size() == 1; },
                    processTimeoutMs),
                qPrintable(inhibitors().join(", ")));
    }

private:
    // Fails the current test when the mock does not come up.
    void startMock()
    {
        if (mock_.state() != QProcess::NotRunning)
            return;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("PYTHONHOME");
        environment.remove("PYTHONPATH");
        mock_.setProcessEnvironment(environment);
        // It logs every call on stdout, which nobody reads while the test waits on D-Bus.
        mock_.setStandardOutputFile(QProcess::nullDevice());
        mock_.start(LUMEXOR_PYTHON3, {"-m", "dbusmock", "--template", "logind", "--system"});
        QVERIFY2(QTest::qWaitFor(
                     [this] { return logindOnBus() || mock_.state() == QProcess::NotRunning; },
                     processTimeoutMs)
                && logindOnBus(),
            qPrintable(
                "logind's mock did not come up (python3-dbusmock, see scripts/install-deps): "
                + mock_.readAllStandardError()));
    }

    // Fails the current test when logind's name stays on the bus.
    void stopMock()
    {
        if (mock_.state() != QProcess::NotRunning) {
            ::kill(mock_.processId(), SIGCONT); // a stopped process holds its SIGTERM back
            mock_.terminate();
            if (!mock_.waitForFinished(processTimeoutMs)) {
                mock_.kill();
                mock_.waitForFinished(processTimeoutMs);
            }
        }
        QVERIFY2(QTest::qWaitFor([] { return !logindOnBus(); }, processTimeoutMs),
            "logind's name is still on the bus");
    }

    QTemporaryDir dir_;
    ChildProcess daemon_;
    ChildProcess mock_;
};

QTEST_GUILESS_MAIN(tst_SleepInhibitor)
#include "tst_sleepinhibitor.moc"
