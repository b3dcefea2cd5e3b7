#include "cliarguments.h"
#include "clidevices.h"
#include "clioutput.h"

#include <QtTest>

namespace {

// The parsed request in one line, for comparing whole outcomes in a table.
QString summary(const CliArguments &a)
{
    const char *names[] = {"list", "check", "update", "settings", "user-modes", "signal"};
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
    const std::pair<const char *, std::optional<bool>> switches[]
        = {{"aspect", a.aspectRatio}, {"performance", a.performance}, {"audio", a.audioSelector}};
    for (const auto &[name, value] : switches)
        add(bool(value), QString(name) + (value.value_or(false) ? "=on" : "=off"));
    for (const UserModeChange &m : a.modes)
        parts << QString("mode%1=%2")
                     .arg(m.index)
                     .arg(m.offered ? QString("%1x%2").arg(m.width).arg(m.height) : "off");
    add(a.json, "json");
    add(a.watch, "watch");
    add(a.debug, "debug");
    return parts.join(' ');
}

DeviceDescription device(
    int pid, const QString &serial, std::vector<uint8_t> path, int mode = Normal)
{
    DeviceDescription desc;
    desc.vendorId = 0x2B77;
    desc.productId = uint16_t(pid);
    desc.serial = serial;
    desc.version = mode == Normal ? "3.4.0" : "";
    desc.product = "KESTREL3";
    desc.busNumber = 2;
    desc.portPath = std::move(path);
    desc.mode = mode;
    return desc;
}

} // namespace

// The command line of lumexor-capture-cli and how it picks devices.
class tst_CliArguments : public QObject
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
        row("settings", "settings --performance on --aspect-ratio off --audio-selector on",
            "settings aspect=off performance=on audio=on");
        row("user modes", "user-modes --mode 1=1920x1080 --mode 3=off",
            "user-modes mode0=1920x1080 mode2=off");
        row("signal", "signal --watch --json", "signal json watch");
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
        for (const char *command : {"list", "check", "update", "settings", "user-modes", "signal"})
            QVERIFY2(
                outcome.text.contains(QString("lumexor-capture-cli %1 ").arg(command)), command);
    }

    void select_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("ports"); // of the devices chosen
        const auto row = [](const char *name, const QString &line, const QString &ports) {
            QTest::newRow(name) << line.split(' ', Qt::SkipEmptyParts)
                                << ports.split(' ', Qt::SkipEmptyParts);
        };
        row("everything", "", "2-1 2-2 2-3.4");
        row("by port", "--port 2-3.4", "2-3.4");
        row("no such port", "--port 2-3", "");
        // A device in repair answers with its family's repair id and without its own serial,
        // so the window's rules admit it whatever serial is asked for.
        row("by serial, and the repair", "--serial K3B", "2-2 2-3.4");
        row("by product and port", "--pid 3601 --port 2-3.4", "2-3.4");
    }

    void select()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, ports);
        const std::vector<DeviceDescription> devices {device(0x3621, "OX3", {1}),
            device(0x3601, "K3B", {2}), device(0x3600, "FFFFFFFF", {3, 4}, SoftRepair)};
        CliArguments parsed;
        QCOMPARE(
            parseCliArguments(QStringList {"cli", "list"} + args, parsed).outcome, CliParse::Run);
        QStringList chosen;
        for (const DeviceDescription &desc :
            clidevices::selectDevices(devices, parsed.filter, parsed.port))
            chosen << clidevices::portText(desc);
        QCOMPARE(chosen, ports);
    }

    void escape_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("escaped");
        QTest::addColumn<QString>("field"); // escaped as a column of `list`
        const auto row
            = [](const char *name, const QString &text, const QString &escaped,
                  const QString &field) { QTest::newRow(name) << text << escaped << field; };
        row("plain", "KESTREL3 4K", "KESTREL3 4K", "KESTREL3\\x204K");
        row("escape sequence, line break", "K3\x1b[2J\r\n", "K3\\x1b[2J\\x0d\\x0a",
            "K3\\x1b[2J\\x0d\\x0a");
        row("NUL", QString::fromLatin1("a\0b", 3), "a\\x00b", "a\\x00b");
        row("DEL and C1 controls", QString("a\x7f") + QChar(0x9B) + QChar(0x85), "a\\x7f\\x9b\\x85",
            "a\\x7f\\x9b\\x85");
        // Otherwise "\x1b" in a serial would read as the escape it stands for.
        row("backslash", "a\\x1b", "a\\\\x1b", "a\\\\x1b");
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
