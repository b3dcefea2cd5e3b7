#include "bustestcase.h"
#include "cliarguments.h"
#include "clioutput.h"
#include "clirunner.h"
#include "norbydevice.h"
#include "quietlogs.h"
#include "updatehistory.h"

#include <QtTest>
#include <libusb.h>

namespace {

// The parsed request in one line, for comparing whole outcomes in a table.
QString summary(const CliArguments &a)
{
    const char *names[]
        = {"list", "check", "update", "settings", "user-modes", "signal", "history"};
    QStringList parts {names[int(a.command)]};
    const auto add = [&](bool given, const QString &part) {
        if (given)
            parts << part;
    };
    add(!a.package.isEmpty(), a.package);
    add(a.filter.vid, "vid=" + QString::number(a.filter.vid, 16));
    add(a.filter.pid, "pid=" + QString::number(a.filter.pid, 16));
    add(!a.filter.serial.isEmpty(), "serial=" + a.filter.serial);
    add(!a.port.isEmpty(), "port=" + a.port);
    add(a.json, "json");
    add(a.watch, "watch");
    add(a.debug, "debug");
    add(a.force, "force");
    add(a.all, "all");
    add(a.jobs, "jobs=" + QString::number(a.jobs));
    return parts.join(' ');
}

} // namespace

// The command line of lumexor-capture-cli (how it picks devices is tests/blackbox's tst_cli).
class tst_CliArguments : public testsupport::BusTestCase
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("result"); // the summary, or "usage: " and part of the error

        const auto row = [](const char *name, const QString &line, const QString &result) {
            QTest::newRow(name) << line.split(' ', Qt::SkipEmptyParts) << result;
        };
        row("list", "list", "list");
        row("list as JSON, filtered", "list --json --vid 0x2B77 --pid 3601",
            "list vid=2b77 pid=3601 json");
        row("check", "check a.fw", "check a.fw");
        row("update by port", "update a.fw --port 2-3.1 --debug", "update a.fw port=2-3.1 debug");
        row("update by serial, single dash", "update a.fw -serial K3", "update a.fw serial=K3");
        // The switches and modes given reach the device as tests/blackbox's tst_cli writes them.
        row("signal", "signal --watch --json", "signal json watch");
        row("update in spite of users", "update a.fw --force", "update a.fw force");
        row("history", "history --json", "history json");
        row("history of one device", "history --serial K3",
            "usage: Option --serial does not apply to history.");
        row("update all, 3 at a time", "update a.fw --all --pid 3601 --jobs 3",
            "update a.fw pid=3601 all jobs=3");
        row("jobs without all", "update a.fw --jobs 3", "usage: --jobs applies to update --all.");
        row("jobs 0", "update a.fw --all --jobs 0", "usage: --jobs takes a number from 1 to 64");
        row("force elsewhere", "list --force", "usage: Option --force does not apply to list.");
        row("no command", "", "usage: No command given.");
        row("unknown command", "flash a.fw", "usage: Unknown command: flash");
        row("package missing", "update", "usage: update needs a firmware package.");
        row("one argument too many", "list extra", "usage: Unexpected argument: extra");
        row("unknown option", "list --bogus", "usage: Unknown option 'bogus'.");
        row("option of another command", "list --watch",
            "usage: Option --watch does not apply to list.");
        row("vid not hexadecimal", "list --vid xyz", "usage: Not a vendor id: xyz");
        row("pid beyond 16 bits", "list --pid 10000", "usage: Not a product id: 10000");
        row("pid zero", "list --pid 0", "usage: Not a product id: 0");
        row("port without a path", "list --port 2", "usage: Not a bus and port path");
        row("switch neither on nor off", "settings --performance yes",
            "usage: --performance takes on or off, not yes");
        row("mode 4", "user-modes --mode 4=640x480", "usage: Not a user mode");
        row("mode of size 0", "user-modes --mode 1=0x480", "usage: Not a user mode");
        row("mode beyond 16 bits", "user-modes --mode 1=70000x480", "usage: Not a user mode");
        row("value missing at the end", "update a.fw --serial",
            "usage: Missing value after '--serial'.");
    }

    void parse()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, result);
        CliArguments parsed;
        const CliParse outcome
            = parseCliArguments(QStringList {"lumexor-capture-cli"} + args, parsed);
        if (result.startsWith("usage: ")) {
            QCOMPARE(outcome.outcome, CliParse::UsageError);
            QVERIFY2(outcome.text.contains(result.mid(7)), qPrintable(outcome.text));
            QVERIFY(outcome.text.contains("--help"));
        } else {
            QCOMPARE(outcome.outcome, CliParse::Run);
            QCOMPARE(summary(parsed), result);
        }
    }

    // Every command has an example in the help.
    void help()
    {
        CliArguments parsed;
        const CliParse outcome = parseCliArguments({"lumexor-capture-cli", "--help"}, parsed);
        QCOMPARE(outcome.outcome, CliParse::Help);
        for (const char *command :
            {"list", "check", "update", "settings", "user-modes", "signal", "history"})
            QVERIFY2(
                outcome.text.contains(QString("lumexor-capture-cli %1 ").arg(command)), command);
    }

    // A device the scan may not open: the scan's text and, on the next line, the platform's
    // hint, shown without --debug. Every further line of an error is indented, so a line break
    // in a text from outside cannot start a line of its own.
    void accessHint()
    {
        vusb::Bus &bus = vusb::Bus::instance();
        const testsupport::Topology topology = testsupport::Topology::build();
        bus.failOpen(bus.plug(topology.root1, 1,
                         vdev::NorbyDevice::make(0x3600, vdev::NorbyState::Application)),
            LIBUSB_ERROR_ACCESS);
        bus.scriptDriverInstall({-2});
        bus.scriptAccessHint("The udev rule is not installed.\n\x1b[2Jforged");
        const testsupport::QuietLogs quiet; // as without --debug
        QString out;
        QString err;
        QTextStream outStream(&out);
        QTextStream errStream(&err);
        QCOMPARE(CliRunner(outStream, errStream, false).run(CliArguments()), 1);
        QCOMPARE(out, QString());
        QCOMPARE(err,
            "Access Denied: Administrative privilegies are required to access the device\n"
            "  The udev rule is not installed.\n  \\x1b[2Jforged\n");
    }

    // The rotated file's records first; a damaged line (a write cut short) is skipped with a
    // notice, in text and in JSON.
    void history()
    {
        const QTemporaryDir state;
        qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
        QVERIFY(QDir().mkpath(updatehistory::folder()));
        const QJsonObject ok = updatehistory::toJson({"2026-12-08T07:00:00Z", "cli", "KESTREL3",
            "2-3.2", "A1B2C3D4", "3.2.1", "/tmp/fw/kestrel3.fw", "ab01", true, ""});
        const QJsonObject failed = updatehistory::toJson({"2026-12-08T07:05:00Z", "window",
            "OSPREYX3", "2-1", "", "", "/tmp/my pkg.fw", "", false, "Error: failed\nthere"});
        const auto write = [](const QString &path, const QByteArray &bytes) {
            QFile file(path);
            return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
        };
        const auto line = [](const QJsonObject &o) {
            return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
        };
        QVERIFY(write(updatehistory::filePath() + ".1", line(ok)));
        QVERIFY(write(updatehistory::filePath(), "{\"time\":\"2026-12-0\n" + line(failed)));
        for (const bool json : {false, true}) {
            CliArguments arguments;
            arguments.command = CliCommand::History;
            arguments.json = json;
            QString out;
            QString err;
            QTextStream outStream(&out);
            QTextStream errStream(&err);
            QCOMPARE(CliRunner(outStream, errStream, false).run(arguments), 0);
            QCOMPARE(err, updatehistory::filePath() + ", line 1: not a history record, skipped\n");
            if (json) {
                QCOMPARE(QJsonDocument::fromJson(out.toUtf8()).object(),
                    (QJsonObject {{"schemaVersion", 1}, {"history", QJsonArray {ok, failed}}}));
            } else {
                QCOMPARE(out,
                    "2026-12-08T07:00:00Z KESTREL3   2-3.2      A1B2C3D4   success kestrel3.fw\n"
                    "2026-12-08T07:05:00Z OSPREYX3   2-1        -          failure my\\x20pkg.fw "
                    "Error: failed\\x0athere\n");
            }
        }
    }

    void escape_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("escaped");
        QTest::addColumn<QString>("field"); // escaped as a column of `list`
        const auto row
            = [](const char *name, const QString &text, const QString &escaped,
                  const QString &field) { QTest::newRow(name) << text << escaped << field; };
        // A space, an escape sequence, a line break and a backslash in a column: tests/blackbox's
        // tst_cli, list.
        row("NUL", QString::fromLatin1("a\0b", 3), "a\\x00b", "a\\x00b");
        row("DEL and C1 controls", QString("a\x7f") + QChar(0x9B) + QChar(0x85), "a\\x7f\\x9b\\x85",
            "a\\x7f\\x9b\\x85");
        row("tab and other spaces", QString("3.4\t") + QChar(0xA0) + QChar(0x3000) + "b",
            QString("3.4\\x09") + QChar(0xA0) + QChar(0x3000) + "b", "3.4\\x09\\xa0\\u3000b");
        row("letters beyond ASCII", "Caf\u00e9 \u00fc", "Caf\u00e9 \u00fc", "Caf\u00e9\\x20\u00fc");
    }

    void escape()
    {
        QFETCH(QString, text);
        QFETCH(QString, escaped);
        QFETCH(QString, field);
        QCOMPARE(clioutput::escapedText(text), escaped);
        QCOMPARE(clioutput::escapedText(text, true), field);
    }
};

QTEST_GUILESS_MAIN(tst_CliArguments)
#include "tst_cliarguments.moc"
