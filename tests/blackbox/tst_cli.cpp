// lumexor-capture-cli, unchanged, on the drop-in virtual bus: what a script sees (output, JSON,
// exit status) and what the devices keep in their state folders afterwards.
#include "dropinrun.h"
#include "fakesystem.h"

#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Three devices: two working ones of different products and a KESTREL3 in soft repair.
const QByteArray threeDevices = R"({"devices": [
    {"kind": "OSPREYX3", "bus": 2, "port": [1, 1], "serial": "OX3C0417", "version": "3.4.0",
     "flags": "0x02"},
    {"kind": "KESTREL3", "bus": 2, "port": [1, 2], "serial": "K3A81F02", "version": "3.4.0"},
    {"kind": "KESTREL3", "state": "soft-repair", "bus": 2, "port": [3], "serial": null}
]})";

const QList<QByteArray> untouched {{}, {}, {}};

// Eight KESTREL3 in every state, two in the boot loader (the same ids) behind one hub; the
// fourth, at 2-2, is given by the test.
QByteArray fleetOf(const char *fourth)
{
    return QByteArray(R"({"devices": [
    {"bus": 2, "port": [1, 1], "serial": "K3F00101", "version": "3.2.0"},
    {"bus": 2, "port": [1, 2], "serial": "K3F00102", "version": "3.2.0"},
    {"bus": 2, "port": [1, 3], "serial": "K3F00103", "version": "3.2.0"},
    {"bus": 2, "port": [2], )")
        + fourth + R"(},
    {"state": "soft-repair", "bus": 2, "port": [3], "serial": null},
    {"state": "soft-repair", "bus": 1, "port": [1], "serial": null},
    {"state": "boot-loader", "bus": 1, "port": [4, 1]},
    {"state": "boot-loader", "bus": 1, "port": [4, 2]}]})";
}

#define VERIFY_SCHEMA(run, command)                                                                \
    do {                                                                                           \
        const QString why = (run).schemaErrors(command);                                           \
        QVERIFY2(why.isEmpty(), qPrintable(why));                                                  \
    } while (false)

// Whether `signalNumber` is in the mask `field` of /proc/PID/status.
bool inSignalMask(qint64 pid, const QByteArray &field, int signalNumber)
{
    QFile file(QString("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return (line.mid(field.size() + 1).trimmed().toULongLong(nullptr, 16)
                       >> (signalNumber - 1))
                & 1;
    }
    return false;
}

} // namespace

class tst_Cli : public QObject
{
    Q_OBJECT

private slots:
    void list()
    {
        DropInRun cli(threeDevices);
        QCOMPARE(cli.run({"list"}), 0);
        QCOMPARE(cli.out,
            "normal      2b77:3621 OX3C0417   3.4.0    2-1.1      OSPREYX3\n"
            "normal      2b77:3601 K3A81F02   3.4.0    2-1.2      KESTREL3\n"
            "soft-repair 2b77:3600 FFFFFFFF   -        2-3        KESTREL3\n");

        QCOMPARE(cli.run({"list", "--json"}), 0);
        const QList<QJsonValue> lines = cli.jsonLines();
        QCOMPARE(lines.size(), 1);
        VERIFY_SCHEMA(cli, "list");
        const QJsonArray devices = lines.first().toObject().value("devices").toArray();
        QCOMPARE(devices.size(), 3);
        const QJsonObject repair = devices.at(2).toObject();
        QCOMPARE(repair.value("state").toString(), "soft-repair");
        QCOMPARE(repair.value("productId").toString(), "3600");
        QCOMPARE(repair.value("port").toString(), "2-3");
        QCOMPARE(repair.value("portPath").toArray(), QJsonArray {3});
        QCOMPARE(devices.at(0).toObject().value("settings").toArray(),
            (QJsonArray {"aspect-ratio", "performance", "audio-selector", "user-modes"}));

        // A device's strings reach a terminal escaped, never substituted into, one line a device
        // and its columns kept; JSON has them as they are.
        const QJsonObject strings {
            {"serial", "K3\n\x1b[2J x\\"}, {"version", "3.4 beta"}, {"product", "K\r3 %1"}};
        DropInRun odd(QJsonDocument(QJsonArray {strings}).toJson());
        QCOMPARE(odd.run({"list"}), 0);
        QCOMPARE(odd.out,
            "normal      2b77:3601 K3\\x0a\\x1b[2J\\x20x\\\\ 3.4\\x20beta 1-1        "
            "K\\x0d3 %1\n");
        QCOMPARE(odd.run({"list", "--json"}), 0);
        const QJsonObject exact
            = odd.jsonLines().value(0).toObject().value("devices").toArray().at(0).toObject();
        for (const char *key : {"serial", "version", "product"})
            QCOMPARE(exact.value(key), strings.value(key));
    }

    void check_data()
    {
        QTest::addColumn<QString>("package"); // a sample, or a broken variant of KESTREL3
        QTest::addColumn<QString>("refusal"); // empty: would go ahead
        const auto row = [](const char *name, const char *package, const QString &refusal) {
            QTest::newRow(name) << QString(package) << refusal;
        };
        // The refusals themselves are the update task's (tests/update); here how the tool says
        // them, for a sample and for a package damaged behind the directory's back.
        row("good", "kestrel3", "");
        row("FPGA data against its CRC", "fpga-damaged",
            "Error: failed to read FPGA image: CRC error");
        row("no such file", "missing", "Cannot open firmware package: ");
    }

    void check()
    {
        QFETCH(QString, package);
        QFETCH(QString, refusal);
        QTemporaryDir packages;
        QString path = sample(qPrintable(package));
        if (!QFile::exists(path)) {
            QProcess maker;
            maker.start(LUMEXOR_MAKE_PACKAGES,
                {"--product", "kestrel3", "--broken", package, packages.path()});
            QVERIFY(maker.waitForFinished(30000));
            path = packages.filePath("kestrel3-" + package + ".fw");
        }
        DropInRun cli(threeDevices);
        QCOMPARE(cli.run({"check", path, "--json"}), refusal.isEmpty() ? 0 : 1);
        VERIFY_SCHEMA(cli, "check");
        const QJsonObject report = cli.jsonLines().value(0).toObject();
        QCOMPARE(report.value("refused").toBool(), !refusal.isEmpty());
        QVERIFY2(report.value("error").toString().contains(refusal), cli.out.constData());
        QVERIFY(cli.err.contains(refusal.toUtf8()));
        // Nothing was asked of a device.
        QVERIFY(!QFile::exists(cli.dir.filePath("transfers.log"))
            || !QFile(cli.dir.filePath("transfers.log")).size());
        if (refusal.isEmpty())
            return;

        // An update says the same and leaves the device as it was; a repair reads every
        // member check reads.
        QCOMPARE(cli.run({"update", path, "--port", "2-3", "--json"}), 1);
        QVERIFY2(cli.err.contains(refusal.toUtf8()), cli.err.constData());
        VERIFY_SCHEMA(cli, "update");
        for (const QJsonValue &event : cli.jsonLines()) {
            if (event["event"] == "error")
                QCOMPARE(event["code"].toString(),
                    package == "missing" ? "package-unreadable" : "package-damaged");
        }
        QCOMPARE(cli.images("2-3"), untouched);
    }

    // The device in soft repair is repaired; the other two keep what they had.
    void update()
    {
        DropInRun cli(threeDevices);
        QCOMPARE(cli.run({"update", sample("kestrel3"), "--port", "2-3", "--json"}), 0);
        const QList<QJsonValue> events = cli.jsonLines();
        VERIFY_SCHEMA(cli, "update");
        QCOMPARE(events.last().toObject().value("result").toString(), "success");
        // The device as it is now: found again on its port, running the sandbox microcode until
        // its next restart.
        QCOMPARE(events.last()["device"]["state"].toString(), "sandbox");
        QCOMPARE(events.last()["device"]["port"].toString(), "2-3");
        QCOMPARE(events.last().toObject().value("exitStatus").toInt(), 0);
        // Each named step in order, the sandbox's first as the device is in repair.
        QStringList steps;
        for (const QJsonValue &event : events) {
            const QString step = event.toObject().value("step").toString();
            if (!step.isEmpty() && !steps.contains(step))
                steps << step;
        }
        QCOMPARE(steps, (QStringList {"package", "sandbox", "microcode", "fpga", "edid", "done"}));
        QCOMPARE(cli.images("2-3"), packageImages(sample("kestrel3"), "kestrel3"));
        QCOMPARE(cli.images("2-1.1"), untouched);
        QCOMPARE(cli.images("2-1.2"), untouched);

        // Repaired, it is a working KESTREL3 now.
        QCOMPARE(cli.run({"list"}), 0);
        QVERIFY2(
            cli.out.endsWith("normal      2b77:3601 FFFFFFFF   3.4.0    2-3        KESTREL3\n"),
            cli.out.constData());

        // The repair in the update history, as the command line's.
        QCOMPARE(cli.run({"history", "--json"}), 0);
        VERIFY_SCHEMA(cli, "history");
        const QJsonArray history = cli.jsonLines().value(0).toObject().value("history").toArray();
        QCOMPARE(history.size(), 1);
        const std::pair<const char *, QString> fields[] {{"program", "cli"}, {"port", "2-3"},
            {"result", "success"}, {"package", sample("kestrel3")}};
        for (const auto &[key, value] : fields)
            QCOMPARE(history.at(0).toObject().value(key).toString(), value);
    }

    void selection_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("code"); // with --json
        const auto row = [](const char *name, const QStringList &args, int status,
                             const char *error, const char *code = "") {
            QTest::newRow(name) << args << status << error << code;
        };
        const QString kestrel3 = sample("kestrel3");
        row("three match", {"update", kestrel3, "--json"}, 3,
            "3 devices match; choose one with --serial or --port:\n  normal      2b77:3621",
            "ambiguous-device");
        // A port names the whole path: 2-1 is the hub, not the devices on it.
        row("none matches", {"update", kestrel3, "--port", "2-1", "--json"}, 3,
            "No device matches; the devices found are:", "no-device");
        row("none for all", {"update", kestrel3, "--all", "--vid", "1234", "--json"}, 3,
            "No device matches; the devices found are:", "no-device");
        row("no settings in repair", {"settings", "--port", "2-3", "--json"}, 1,
            "The device offers no settings.", "not-supported");
        row("no audio selector", {"settings", "--port", "2-1.2", "--audio-selector", "on"}, 1,
            "The device has no audio selector setting.");
        row("usage", {"update"}, 2, "update needs a firmware package.");
    }

    // Refused with the window's texts, and nothing written.
    void selection()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, error);
        QFETCH(QString, code);
        DropInRun cli(threeDevices);
        QCOMPARE(cli.run(args), status);
        QVERIFY2(cli.err.contains(error.toUtf8()), cli.err.constData());
        VERIFY_SCHEMA(cli, args.first());
        QCOMPARE(cli.jsonLines().value(0)["code"].toString(), code);
        for (const char *port : {"2-1.1", "2-1.2", "2-3"}) {
            QCOMPARE(cli.images(port), untouched);
            QCOMPARE(cli.saved(port, "settings.bin"), QByteArray());
        }
    }

    // Written, then read back from what the device keeps: the flags byte and the three user
    // modes (width, height little-endian, then 0 for offered).
    void inUse_data()
    {
        QTest::addColumn<QString>("device"); // whose video obs and ffmpeg hold
        QTest::addColumn<bool>("force");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("all"); // update --all: that device is skipped, 2-3 repaired
        QTest::newRow("refused") << "2-1.2" << false << 1 << false;
        QTest::newRow("forced") << "2-1.2" << true << 0 << false;
        QTest::newRow("another device's video") << "2-1.1" << false << 0 << false;
        QTest::newRow("one of all") << "2-1.2" << false << 1 << true;
    }

    // Programs with the device's video open (in a fake sysfs and /proc): the update refuses,
    // naming them, and writes nothing, unless --force is given.
    void inUse()
    {
        QFETCH(QString, device);
        QFETCH(bool, force);
        QFETCH(int, status);
        QFETCH(bool, all);
        testsupport::FakeSystem system(false);
        system.addVideo(device, "video2");
        system.addHolder(4242, "obs", "/dev/video2");
        system.addHolder(4243, "ffmpeg", "/dev/video2");
        DropInRun cli(threeDevices);
        cli.env.insert("LUMEXOR_SYSTEM_ROOT", system.path());
        const QStringList args {
            "update", sample("kestrel3"), all ? "--all" : "--port", all ? "--pid=3601" : "2-1.2"};
        QCOMPARE(cli.run(args + (force ? QStringList {"--force"} : QStringList())), status);
        const bool refused = status != 0;
        QCOMPARE(cli.err.contains("The device is in use by obs (process 4242), ffmpeg (process "
                                  "4243): an update restarts it and ends their capture. Close "
                                  "them, or give --force.\n"),
            refused);
        QCOMPARE(cli.images("2-1.2"),
            refused ? untouched : packageImages(sample("kestrel3"), "kestrel3"));
        QCOMPARE(
            cli.images("2-3"), all ? packageImages(sample("kestrel3"), "kestrel3") : untouched);
    }

    void settings()
    {
        DropInRun cli(threeDevices);
        QCOMPARE(cli.run({"settings", "--serial", "OX3C0417", "--port", "2-1.1", "--performance",
                     "on", "--aspect-ratio", "off"}),
            0);
        QCOMPARE(cli.out, "keep aspect ratio: off\nperformance mode: on\naudio selector: off\n");
        QCOMPARE(cli.saved("2-1.1", "settings.bin").left(1), QByteArray("\x04"));

        QCOMPARE(cli.run({"user-modes", "--port", "2-1.1", "--mode", "1=1280x720", "--mode",
                     "3=off", "--json"}),
            0);
        QCOMPARE(
            cli.saved("2-1.1", "settings.bin").mid(1, 5), QByteArray("\x00\x05\xd0\x02\x00", 5));
        QCOMPARE(cli.saved("2-1.1", "settings.bin").at(15), '\x01');
        VERIFY_SCHEMA(cli, "user-modes");
        const QJsonArray modes = cli.jsonLines().value(0).toObject().value("userModes").toArray();
        QCOMPARE(modes.size(), 3);
        QCOMPARE(modes.at(0).toObject().value("width").toInt(), 1280);
        QCOMPARE(modes.at(2).toObject().value("offered").toBool(), false);

        QCOMPARE(cli.run({"signal", "--port", "2-1.1"}), 0);
        QCOMPARE(cli.out.count('\n'), 1);
    }

    void fleet_data()
    {
        QTest::addColumn<QByteArray>("fourth"); // the device at 2-2
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("result"); // of the device at 2-2
        QTest::addColumn<QString>("code");
        QTest::newRow("all eight")
            << QByteArray(R"("serial": "K3F00104")") << QStringList() << "success"
            << "";
        QTest::newRow("one failing")
            << QByteArray(R"("serial": "K3FAIL01", "faults": [{"request": "0xC2", "from": 3,
                "count": 1, "error": "pipe"}])")
            << QStringList() << "failure"
            << "update-failed";
        QTest::newRow("one for another product")
            << QByteArray(R"("kind": "OSPREYX3", "serial": "OX3F0201")")
            << QStringList {"--jobs", "3"} << "skipped"
            << "package-unfit";
        // SIGTERM once the first two are flashing: they finish, the other six do not start.
        QTest::newRow("signal") << QByteArray(R"("serial": "K3F00104")")
                                << QStringList {"--jobs", "2", "signal"} << ""
                                << "";
    }

    // update --all: every device on its own task, each found again on its own port after its
    // restart, and a summary of them all; one device's failure is only that device's.
    void fleet()
    {
        QFETCH(QByteArray, fourth);
        QFETCH(QStringList, options);
        QFETCH(QString, result);
        QFETCH(QString, code);
        DropInRun cli(fleetOf(fourth));
        const bool signal = options.removeAll("signal");
        std::signal(SIGTERM, SIG_DFL);
        QVERIFY(cli.start(QStringList {"update", sample("kestrel3"), "--all", "--json"} + options));
        if (signal) {
            QVERIFY(
                QTest::qWaitFor([&] { return cli.out.contains(R"("step":"microcode")"); }, 30000));
            ::kill(pid_t(cli.process.processId()), SIGTERM);
        }
        const int status = cli.finish();
        VERIFY_SCHEMA(cli, "update");
        const QList<QJsonValue> events = cli.jsonLines();
        QSet<QString> progressed; // the devices the events of a run name
        std::map<QString, QString> ends;
        for (const QJsonValue &event : events) {
            const QString port = event["device"]["port"].toString();
            if (event["event"] == "progress")
                progressed << port;
            if (event["event"] == "end" && event["result"] == "success")
                ends[port] = event["device"]["state"].toString();
        }
        const QJsonObject summary = events.last().toObject();
        QCOMPARE(summary.value("event").toString(), "summary");
        QCOMPARE(summary.value("interrupted").toBool(), signal);
        const QList<QByteArray> package = packageImages(sample("kestrel3"), "kestrel3");
        QMap<QString, int> counts;
        for (const QJsonValue &device : summary.value("devices").toArray()) {
            const QString port = device["port"].toString();
            const QString got = device["result"].toString();
            ++counts[got];
            if (!signal && port == "2-2") {
                QCOMPARE(got, result);
                QCOMPARE(device["error"]["code"].toString(), code);
            }
            QCOMPARE(progressed.contains(port), got != "not-started");
            // Flashed with the package, and out of its repair state now, exactly when it
            // succeeded.
            QCOMPARE(cli.images(port) == package, got == "success");
            QCOMPARE(ends.count(port) && !ends[port].endsWith("r"), got == "success");
        }
        QCOMPARE(counts.value("success"), signal ? 2 : result == "success" ? 8 : 7);
        QCOMPARE(counts.value("not-started"), signal ? 6 : 0);
        QCOMPARE(status, counts.value("success") == 8 ? 0 : 1);
        // Every device that ran is in the history once, as the command line's.
        QCOMPARE(cli.run({"history", "--json"}), 0);
        VERIFY_SCHEMA(cli, "history");
        QStringList recorded, ran = progressed.values();
        for (const QJsonValue &record : cli.jsonLines().value(0)["history"].toArray()) {
            QCOMPARE(record["program"].toString(), "cli");
            recorded << record["port"].toString();
        }
        recorded.sort();
        ran.sort();
        QCOMPARE(recorded, ran);

        if (code == "package-unfit") {
            // In text, every line names its device, and the summary has a line for each.
            QCOMPARE(cli.run({"update", sample("kestrel3"), "--all", "--port", "2-2"}), 1);
            QVERIFY2(cli.err.contains("[2-2 OX3F0201] Selected device and firmware incompatible"),
                cli.err.constData());
            QVERIFY2(cli.out.endsWith("2-2        OX3F0201   skipped: Selected device and "
                                      "firmware incompatible\n0 of 1 device(s) updated\n"),
                cli.out.constData());
        }
    }

    void termination_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<QString>("step"); // sent once the update reports it; empty: in the scan
        // SIGTERM shares SIGHUP's handler (the window's test sends each once).
        QTest::newRow("SIGHUP during the FPGA image") << int(SIGHUP) << "fpga";
        QTest::newRow("SIGINT before the flash") << int(SIGINT) << "";
    }

    // A signal in the middle of a flash: the tool says it goes on, and the update completes.
    // One before it: the tool stops with nothing written.
    void termination()
    {
        QFETCH(int, signalNumber);
        QFETCH(QString, step);
        DropInRun cli(threeDevices);
        // Started as from an interactive shell, which leaves these signals to the tool: one
        // this test was started with ignored (nohup, a background job) would be ignored by the
        // tool too.
        std::signal(signalNumber, SIG_DFL);
        // The scan is held in its first transfer, whose line waits to go into a full pipe as the
        // transfer log, until the signal is sent.
        int held[2] = {-1, -1};
        if (step.isEmpty()) {
            const QByteArray log = QFile::encodeName(cli.dir.filePath("held.log"));
            QCOMPARE(::mkfifo(log.constData(), 0600), 0);
            held[0] = ::open(log.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            held[1] = ::open(log.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            const QByteArray page(4096, '.');
            while (::write(held[1], page.constData(), size_t(page.size())) > 0) { }
            cli.env.insert("LUMEXOR_VIRTUAL_LOG", log);
        }
        QVERIFY(cli.start({"update", sample("kestrel3"), "--port", "2-1.2", "--json"}));
        const qint64 pid = cli.process.processId();
        QVERIFY(QTest::qWaitFor(
            [&] {
                if (!step.isEmpty())
                    return cli.out.contains(QString(R"("step":"%1")").arg(step).toUtf8());
                return inSignalMask(pid, "SigCgt", signalNumber); // caught from now on
            },
            30000));
        ::kill(pid_t(pid), signalNumber);
        // Taken by a thread, whose handler then runs before the scan can go on.
        QVERIFY(QTest::qWaitFor([&] { return !inSignalMask(pid, "ShdPnd", signalNumber); }, 30000));
        for (const int end : held) {
            if (end >= 0)
                ::close(end);
        }
        if (step.isEmpty()) {
            QCOMPARE(cli.finish(), 1);
            QVERIFY2(
                cli.err.contains("Interrupted before the update started; nothing was written."),
                cli.err.constData());
            QCOMPARE(cli.images("2-1.2"), untouched);
            return;
        }
        QCOMPARE(cli.finish(), 0);
        VERIFY_SCHEMA(cli, "update");
        QVERIFY2(cli.out.contains(R"("event":"notice")"), cli.out.constData());
        QVERIFY(cli.out.contains(R"("result":"success")"));
        QCOMPARE(cli.images("2-1.2"), packageImages(sample("kestrel3"), "kestrel3"));
    }

    void readerGone_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("first"); // the line the reader takes
        QTest::newRow("update") << QStringList {"update", sample("kestrel3")}
                                << QByteArray("Updating normal      2b77:3601 K3A81F02");
        QTest::newRow("signal --watch")
            << QStringList {"signal", "--watch"} << QByteArray("HDMI 1920x1080p@60, YUY2");
    }

    // The output goes to a reader that leaves after one line: the update goes on to the end
    // and its exit status tells how it went; a watcher without a reader stops.
    void readerGone()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, first);
        DropInRun cli(threeDevices);
        QCOMPARE(cli.shell(R"({ "$0" "$@"; echo "exit status $?" >&2; } | head -n 1)",
                     args + QStringList {"--port", "2-1.2"}),
            0);
        QVERIFY2(cli.out.startsWith(first) && cli.out.count('\n') == 1, cli.out.constData());
        QVERIFY2(cli.err.endsWith("exit status 0\n"), cli.err.constData());
        if (args.first() == "update")
            QCOMPARE(cli.images("2-1.2"), packageImages(sample("kestrel3"), "kestrel3"));
    }

    void packageBytes_data()
    {
        QTest::addColumn<QStringList>("args"); // printf formats: \377 is the byte 0xFF
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text"); // in the output or on standard error
        QTest::addColumn<bool>("flashed");
        QTest::newRow("check") << QStringList {"check", R"(pkg-\377.fw)", "--json"} << 0
                               << R"("product":"kestrel3")" << false;
        QTest::newRow("update") << QStringList {"update", R"(pkg-\377.fw)", "--port", "2-1.2"} << 0
                                << "Update completed" << true;
        QTest::newRow("a name two files show alike")
            << QStringList {"update", R"(pkg-\376.fw)", "--serial", R"(pkg-\375.fw)"} << 1
            << "Cannot open firmware package: more than one file is shown as" << false;
    }

    // A package whose name is not UTF-8 is opened by its bytes, not by the text it is shown
    // as, which names the file beside it: a KESTREL3 package of other images.
    void packageBytes()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, text);
        QFETCH(bool, flashed);
        DropInRun cli(threeDevices);
        cli.env.insert("LC_ALL", "C.UTF-8");
        // The names are made, and the arguments given, as bytes (printf turns \377 into 0xFF),
        // and removed by the shell too: QTemporaryDir cannot name them.
        const QString script = "cd \"$1\" && cp \"$2\" \"$(printf 'pkg-\\377.fw')\" && "
                               "cp \"$3\" \"$(printf 'pkg-\\357\\277\\275.fw')\" && shift 3 && "
                               "for a in \"$@\"; do set -- \"$@\" \"$(printf -- \"$a\")\"; shift; "
                               "done; \"$0\" \"$@\"; status=$?; rm -f pkg-*.fw; exit $status";
        QCOMPARE(cli.shell(script,
                     QStringList {cli.dir.path(), sample("kestrel3"), sample("legacy")} + args),
            status);
        QVERIFY2((cli.out + cli.err).contains(text.toUtf8()), (cli.out + cli.err).constData());
        const QList<QByteArray> kestrel3 = packageImages(sample("kestrel3"), "kestrel3");
        QVERIFY(kestrel3 != packageImages(sample("legacy"), "legacy"));
        QCOMPARE(cli.images("2-1.2"), flashed ? kestrel3 : untouched);
    }

    // The last step reports 100 before its completion request, which fails here: neither that
    // 100 nor "done" is shown.
    void failedAtTheEnd()
    {
        DropInRun cli(
            R"([{"kind": "OSPREYX3", "faults": [{"request": "0xC3", "from": 1, "count": -1,
                  "error": "pipe"}]}])");
        for (const QStringList &format : {QStringList(), QStringList {"--json"}}) {
            QCOMPARE(cli.run(QStringList {"update", sample("ospreyx3")} + format), 1);
            QVERIFY2(cli.err.contains("failed to complete FPGA reflash"), cli.err.constData());
            QVERIFY2(!cli.out.contains("done") && !cli.out.contains("100%")
                    && !cli.out.contains(R"("percent":100)"),
                cli.out.constData());
        }
    }

    // Two runs of the tool update one device: the second, started while the first is held in
    // its flash (stopped), is refused at once naming the first and sends the device nothing;
    // the first completes, and the device holds the package once.
    void twoUpdatesOfOneDevice()
    {
        DropInRun first(threeDevices);
        DropInRun second;
        second.env = first.env; // the same devices, state and runtime folder
        second.env.insert("LUMEXOR_VIRTUAL_LOG", second.dir.filePath("transfers.log"));
        const QStringList args {"update", sample("kestrel3"), "--port", "2-1.2"};
        QVERIFY(first.start(args));
        const pid_t pid = pid_t(first.process.processId());
        QVERIFY(QTest::qWaitFor([&] { return first.out.contains("% FPGA image"); }, 30000));
        ::kill(pid, SIGSTOP);
        QCOMPARE(second.run(args + QStringList {"--json"}), 1);
        ::kill(pid, SIGCONT);
        VERIFY_SCHEMA(second, "update");
        QVERIFY2(second.out.contains(R"("code":"device-busy")"), second.out.constData());
        QVERIFY2(second.err.contains(QString("Error: another update of this device is running: "
                                             "lumexor-capture-cli (process %1)")
                                         .arg(pid)
                                         .toUtf8()),
            second.err.constData());
        QCOMPARE(first.finish(), 0);
        QVERIFY2(first.out.contains("Update completed"), first.out.constData());
        QCOMPARE(first.images("2-1.2"), packageImages(sample("kestrel3"), "kestrel3"));
        QFile log(second.dir.filePath("transfers.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(!log.readAll().contains("2-1.2 "));
    }

    // The bash completion, sourced and called as bash calls it: `words` typed so far, the last
    // being completed; %1 stands for a folder holding a.fw, notes.txt and sub/.
    void completion_data()
    {
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QString>("replies");
        QTest::newRow("commands") << QStringList {""}
                                  << "check history list settings signal update user-modes";
        QTest::newRow("global options") << QStringList {"--"} << "--help --version";
        QTest::newRow("update's options") << QStringList {"--json", "update", "p.fw", "--"}
                                          << "--all --debug --force --jobs --json --pid --port "
                                             "--serial --vid";
        QTest::newRow("check selects no device") << QStringList {"check", "-"} << "--debug --json";
        QTest::newRow("on or off") << QStringList {"settings", "--performance", ""} << "off on";
        QTest::newRow("ports from list")
            << QStringList {"signal", "--port", "2-"} << "2-1.1 2-1.2 2-3";
        QTest::newRow("packages") << QStringList {"update", "--port", "2-3", "%1/"}
                                  << "%1/a.fw %1/sub";
        QTest::newRow("one package") << QStringList {"check", "%1/a.fw", "%1/"} << "";
    }
    void completion()
    {
        QFETCH(QStringList, words);
        QFETCH(QString, replies);
        DropInRun cli(threeDevices);
        QVERIFY(QDir(cli.dir.path()).mkpath("files/sub"));
        for (const char *name : {"files/a.fw", "files/notes.txt"})
            QVERIFY(QFile(cli.dir.filePath(name)).open(QIODevice::WriteOnly));
        const QString files = cli.dir.filePath("files");
        words.replaceInStrings("%1", files);
        const QString script = R"(. "$0"; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
            _lumexor_capture_cli; echo ${COMPREPLY[@]+"${COMPREPLY[@]}"} | tr ' ' '\n' | sort)";
        QVERIFY(cli.start(
            QStringList {"-c", script, LUMEXOR_COMPLETION, LUMEXOR_CLI} + words, "/bin/bash"));
        QCOMPARE(cli.finish(), 0);
        QCOMPARE(QString(cli.out).split('\n', Qt::SkipEmptyParts).join(' '),
            replies.replace("%1", files));
        QVERIFY2(cli.err.isEmpty(), cli.err.constData());
    }
};

QTEST_GUILESS_MAIN(tst_Cli)
#include "tst_cli.moc"
