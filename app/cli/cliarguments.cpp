#include "cliarguments.h"

#include "clioutput.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>

#include <algorithm>
#include <iterator>
#include <map>
#include <set>

namespace {

const std::map<QString, CliCommand> commands {{"list", CliCommand::List},
    {"check", CliCommand::Check}, {"update", CliCommand::Update},
    {"settings", CliCommand::Settings}, {"user-modes", CliCommand::UserModes},
    {"signal", CliCommand::Signal}, {"history", CliCommand::History}};

const QString selectionOptions[] = {"vid", "pid", "serial", "port"};

// The options each command takes besides --json and the device selection.
const std::map<CliCommand, std::set<QString>> ownOptions {{CliCommand::List, {}},
    {CliCommand::Check, {}}, {CliCommand::Update, {"force", "all", "jobs"}},
    {CliCommand::Settings, {"aspect-ratio", "performance", "audio-selector"}},
    {CliCommand::UserModes, {"mode"}}, {CliCommand::Signal, {"watch"}}, {CliCommand::History, {}}};

// Examples shown under the commands of --help.
const char help[] = QT_TRANSLATE_NOOP("CommandLine",
    "Commands:\n"
    "  list                 List the attached devices, also those in repair.\n"
    "                       lumexor-capture-cli list --json\n"
    "  check PACKAGE        Read a firmware package without touching a device and tell\n"
    "                       whether an update with it would be refused.\n"
    "                       lumexor-capture-cli check kestrel3.fw\n"
    "  update PACKAGE       Update or repair exactly one device.\n"
    "                       Refused while other programs have the device's video open,\n"
    "                       unless --force is given.\n"
    "                       lumexor-capture-cli update kestrel3.fw --serial A1B2C3D4\n"
    "                       With --all, every device the selection admits, in any state,\n"
    "                       each on its own thread, --jobs at a time (default: all at once,\n"
    "                       up to 16: a flash mostly waits for the device's erase and\n"
    "                       program, so the bus is not what limits it); a summary line per\n"
    "                       device at the end.\n"
    "                       lumexor-capture-cli update kestrel3.fw --all --pid 3601\n"
    "  settings             Show the device's settings; change them with --aspect-ratio,\n"
    "                       --performance and --audio-selector.\n"
    "                       lumexor-capture-cli settings --performance on\n"
    "  user-modes           Show the three user video modes; change them with --mode.\n"
    "                       lumexor-capture-cli user-modes --mode 1=1920x1080 --mode 3=off\n"
    "  signal               Show what the device sees on its input; --watch keeps showing\n"
    "                       it every two seconds until interrupted.\n"
    "                       lumexor-capture-cli signal --port 2-3.1 --watch\n"
    "  history              Show the updates and repairs made on this computer, oldest\n"
    "                       first: when, which device, the result and the package.\n"
    "                       lumexor-capture-cli history --json\n"
    "\n"
    "Devices are chosen by --vid, --pid, --serial and --port; the commands for one device\n"
    "refuse to go on unless exactly one matches.\n"
    "\n"
    "Exit status: 0 success (update --all: every device), 1 the operation failed, 2 usage\n"
    "error, 3 no device or more than one matched.\n"
    "--json output is described in docs/cli-json.md; every value carries its schemaVersion.");

std::optional<int32_t> parseId(const QString &text)
{
    QString digits = text;
    if (digits.startsWith("0x", Qt::CaseInsensitive))
        digits = digits.mid(2);
    bool ok = false;
    const uint value = digits.toUInt(&ok, 16);
    if (!ok || digits.isEmpty() || value == 0 || value > 0xFFFF)
        return std::nullopt;
    return int32_t(value);
}

std::optional<bool> parseSwitch(const QString &text)
{
    if (text == "on")
        return true;
    if (text == "off")
        return false;
    return std::nullopt;
}

std::optional<UserModeChange> parseMode(const QString &text)
{
    static const QRegularExpression form(
        QRegularExpression::anchoredPattern(R"(([123])=(?:(off)|(\d{1,5})x(\d{1,5})))"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    UserModeChange change;
    change.index = uint16_t(match.captured(1).toUInt() - 1);
    if (!match.captured(2).isEmpty()) {
        change.offered = false;
        return change;
    }
    const uint width = match.captured(3).toUInt();
    const uint height = match.captured(4).toUInt();
    if (width == 0 || height == 0 || width > 0xFFFF || height > 0xFFFF)
        return std::nullopt;
    change.width = uint16_t(width);
    change.height = uint16_t(height);
    return change;
}

// `text` is one line, and may quote what was typed, which could be anything.
CliParse usageError(const QString &text)
{
    return {CliParse::UsageError,
        clioutput::escapedText(text) + '\n'
            + QCoreApplication::translate("CommandLine", "Try 'lumexor-capture-cli --help'.")};
}

} // namespace

CliParse parseCliArguments(const QStringList &arguments, CliArguments &out)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate(
        "CommandLine", "Lists, checks, updates and configures capture devices."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption helpOption(
        {"h", "help"}, QCoreApplication::translate("CommandLine", "Show this help."));
    const QCommandLineOption versionOption(
        {"v", "version"}, QCoreApplication::translate("CommandLine", "Show the version."));
    parser.addOption(helpOption);
    parser.addOption(versionOption);
    parser.addOptions({
        {"json", QCoreApplication::translate("CommandLine", "Machine-readable output: JSON.")},
        {"debug",
            QCoreApplication::translate("CommandLine",
                "Write the diagnostic lines of the USB layer and the update to standard "
                "error.")},
        {"vid",
            QCoreApplication::translate(
                "CommandLine", "Only devices with this vendor id (hexadecimal)."),
            "V"},
        {"pid",
            QCoreApplication::translate(
                "CommandLine", "Only devices with this product id (hexadecimal)."),
            "P"},
        {"serial",
            QCoreApplication::translate("CommandLine", "Only the device with this serial number."),
            "S"},
        {"port",
            QCoreApplication::translate(
                "CommandLine", "Only the device at this bus and port path, as list shows it."),
            "BUS-PATH"},
        {"aspect-ratio",
            QCoreApplication::translate("CommandLine", "settings: keep the aspect ratio."),
            "on|off"},
        {"performance", QCoreApplication::translate("CommandLine", "settings: performance mode."),
            "on|off"},
        {"audio-selector", QCoreApplication::translate("CommandLine", "settings: audio selector."),
            "on|off"},
        {"mode",
            QCoreApplication::translate("CommandLine",
                "user-modes: set mode N (1 to 3) to a size or turn it off; repeatable."),
            "N=WIDTHxHEIGHT|off"},
        {"watch",
            QCoreApplication::translate(
                "CommandLine", "signal: keep showing it until interrupted.")},
        {"force",
            QCoreApplication::translate("CommandLine",
                "update: go on although other programs have the device's video open; their "
                "capture ends.")},
        {"all",
            QCoreApplication::translate(
                "CommandLine", "update: every device the selection admits, side by side.")},
        {"jobs",
            QCoreApplication::translate(
                "CommandLine", "update --all: at most N devices at once (default 16)."),
            "N"},
    });
    parser.addPositionalArgument("command",
        QCoreApplication::translate(
            "CommandLine", "list, check, update, settings, user-modes, signal, history"));
    parser.addPositionalArgument("package",
        QCoreApplication::translate("CommandLine", "The firmware package of check and update."),
        "[PACKAGE]");

    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption))
        return {CliParse::Help,
            parser.helpText() + '\n' + QCoreApplication::translate("CommandLine", help) + '\n'};
    if (parser.isSet(versionOption))
        return {CliParse::Version, QString()};

    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return usageError(QCoreApplication::translate("CommandLine", "No command given."));
    const auto command = commands.find(positional.first());
    if (command == commands.end())
        return usageError(QCoreApplication::translate("CommandLine", "Unknown command: %1")
                              .arg(positional.first()));
    out = CliArguments();
    out.command = command->second;

    const bool takesPackage = out.command == CliCommand::Check || out.command == CliCommand::Update;
    if (takesPackage && positional.size() < 2)
        return usageError(QCoreApplication::translate("CommandLine", "%1 needs a firmware package.")
                              .arg(positional.first()));
    if (positional.size() > (takesPackage ? 2 : 1))
        return usageError(QCoreApplication::translate("CommandLine", "Unexpected argument: %1")
                              .arg(positional.last()));
    if (takesPackage)
        out.package = positional.at(1);

    // The device selection belongs to every command that works on a device, and to list.
    const bool selects = out.command != CliCommand::Check && out.command != CliCommand::History;
    const std::set<QString> &own = ownOptions.at(out.command);
    for (const QString &name : parser.optionNames()) {
        const QString longName = name.size() == 1 ? QString() : name;
        const bool selection
            = std::find(std::begin(selectionOptions), std::end(selectionOptions), longName)
            != std::end(selectionOptions);
        if (longName == "json" || longName == "debug" || own.count(longName)
            || (selection && selects))
            continue;
        return usageError(
            QCoreApplication::translate("CommandLine", "Option --%1 does not apply to %2.")
                .arg(longName, positional.first()));
    }

    out.json = parser.isSet("json");
    out.debug = parser.isSet("debug");
    out.watch = parser.isSet("watch");
    out.force = parser.isSet("force");
    out.all = parser.isSet("all");
    if (parser.isSet("jobs")) {
        bool ok = false;
        out.jobs = parser.value("jobs").toInt(&ok);
        if (!out.all)
            return usageError(
                QCoreApplication::translate("CommandLine", "--jobs applies to update --all."));
        if (!ok || out.jobs < 1 || out.jobs > 64)
            return usageError(QCoreApplication::translate(
                "CommandLine", "--jobs takes a number from 1 to 64, not %1")
                                  .arg(parser.value("jobs")));
    }
    if (parser.isSet("vid")) {
        const std::optional<int32_t> id = parseId(parser.value("vid"));
        if (!id)
            return usageError(QCoreApplication::translate("CommandLine", "Not a vendor id: %1")
                                  .arg(parser.value("vid")));
        out.filter.vid = *id;
    }
    if (parser.isSet("pid")) {
        const std::optional<int32_t> id = parseId(parser.value("pid"));
        if (!id)
            return usageError(QCoreApplication::translate("CommandLine", "Not a product id: %1")
                                  .arg(parser.value("pid")));
        out.filter.pid = *id;
    }
    out.filter.serial = parser.value("serial");
    if (parser.isSet("port")) {
        static const QRegularExpression form(
            QRegularExpression::anchoredPattern(R"(\d{1,3}-\d{1,3}(\.\d{1,3})*)"));
        out.port = parser.value("port");
        if (!form.match(out.port).hasMatch())
            return usageError(QCoreApplication::translate(
                "CommandLine", "Not a bus and port path such as 2-3.1: %1")
                                  .arg(out.port));
    }
    const std::pair<const char *, std::optional<bool> *> switches[]
        = {{"aspect-ratio", &out.aspectRatio}, {"performance", &out.performance},
            {"audio-selector", &out.audioSelector}};
    for (const auto &[name, target] : switches) {
        if (!parser.isSet(name))
            continue;
        *target = parseSwitch(parser.value(name));
        if (!*target)
            return usageError(
                QCoreApplication::translate("CommandLine", "--%1 takes on or off, not %2")
                    .arg(name, parser.value(name)));
    }
    for (const QString &value : parser.values("mode")) {
        const std::optional<UserModeChange> change = parseMode(value);
        if (!change)
            return usageError(QCoreApplication::translate(
                "CommandLine", "Not a user mode such as 1=1920x1080 or 2=off: %1")
                                  .arg(value));
        out.modes.push_back(*change);
    }
    return {};
}
