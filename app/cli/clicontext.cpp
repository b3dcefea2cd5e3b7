#include "clicontext.h"

#include "clidevices.h"
#include "clioutput.h"
#include "devicescanner.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

using namespace clidevices;

CliContext::CliContext(QTextStream &out, QTextStream &err, bool terminal,
    const UpdatePacing &pacing, const CliArguments &arguments)
    : out(out)
    , err(err)
    , terminal(terminal)
    , pacing(pacing)
    , arguments(arguments)
{
}

void CliContext::printLine(const QString &line)
{
    out << clioutput::escapedText(line) << Qt::endl;
}

void CliContext::printError(const QString &text)
{
    // A text may go on over more lines (an access text and its hint); each further line is
    // indented, so a line break inside a device's string cannot pass for a line of its own.
    QStringList lines;
    for (const QString &line : text.split('\n'))
        lines << clioutput::escapedText(line);
    err << lines.join(QStringLiteral("\n  ")) << Qt::endl;
}

bool CliContext::outputGone() const
{
    const auto *device = dynamic_cast<const clioutput::DescriptorOutput *>(out.device());
    return device && device->readerGone();
}

void CliContext::printJson(QJsonObject object)
{
    object.insert("schemaVersion", CliSchemaVersion);
    out << QJsonDocument(object).toJson(QJsonDocument::Compact) << Qt::endl;
}

void CliContext::fail(const char *code, const QString &text, const QJsonObject &extra)
{
    printError(text);
    if (arguments.json) {
        QJsonObject object = extra;
        object.insert("error", text);
        object.insert("code", code);
        // An update's output is a stream of events; its failures before the start are events
        // too.
        if (arguments.command == CliCommand::Update) {
            object.insert("event", "error");
            object.insert("message", text);
        }
        printJson(object);
    }
}

std::vector<DeviceDescription> CliContext::scan(QStringList &errors)
{
    std::vector<DeviceDescription> devices;
    DeviceScanner scanner;
    QObject::connect(&scanner, &DeviceScanner::newDevice,
        [&](const DeviceDescription &desc) { devices.push_back(desc); });
    QObject::connect(&scanner, &DeviceScanner::error, [&](const QString &text) { errors << text; });
    waitFor(&scanner, &DeviceScanner::complete, [&] { emit scanner.scan(); });
    return devices;
}

int CliContext::selectOne(DeviceDescription &chosen)
{
    QStringList errors;
    const std::vector<DeviceDescription> all = scan(errors);
    const std::vector<DeviceDescription> matches
        = selectDevices(all, arguments.filter, arguments.port);
    for (const QString &text : errors)
        printError(text);
    if (matches.size() == 1) {
        chosen = matches.front();
        return CliExit::Success;
    }
    // The candidates are named so the next try can pick one by serial or port.
    const std::vector<DeviceDescription> &candidates = matches.empty() ? all : matches;
    QJsonArray array;
    for (const DeviceDescription &desc : candidates)
        array.append(deviceJson(desc));
    const QString text = matches.empty()
        ? (all.empty() ? QCoreApplication::translate("CommandLine", "No device found.")
                       : QCoreApplication::translate(
                           "CommandLine", "No device matches; the devices found are:"))
        : QCoreApplication::translate("CommandLine",
            "%n devices match; choose one with --serial or --port:", nullptr, int(matches.size()));
    fail(matches.empty() ? "no-device" : "ambiguous-device", text, {{"candidates", array}});
    for (const DeviceDescription &desc : candidates)
        err << "  " << deviceLine(desc) << Qt::endl;
    return CliExit::NoDevice;
}

std::vector<DeviceDescription> CliContext::selectAll()
{
    QStringList errors;
    const std::vector<DeviceDescription> all = scan(errors);
    for (const QString &text : errors)
        printError(text);
    std::vector<DeviceDescription> matches = selectDevices(all, arguments.filter, arguments.port);
    if (matches.empty()) {
        QJsonArray array;
        for (const DeviceDescription &desc : all)
            array.append(deviceJson(desc));
        fail("no-device",
            all.empty() ? QCoreApplication::translate("CommandLine", "No device found.")
                        : QCoreApplication::translate(
                            "CommandLine", "No device matches; the devices found are:"),
            {{"candidates", array}});
        for (const DeviceDescription &desc : all)
            err << "  " << deviceLine(desc) << Qt::endl;
    }
    return matches;
}

std::vector<DeviceDescription> CliContext::rescan(std::vector<DeviceDescription> devices)
{
    QStringList errors;
    const std::vector<DeviceDescription> found = scan(errors);
    for (DeviceDescription &desc : devices) {
        const auto now = std::find_if(found.begin(), found.end(),
            [&](const auto &candidate) { return portText(candidate) == portText(desc); });
        if (now != found.end())
            desc = *now;
    }
    return devices;
}

CliSettings::CliSettings(CliContext &cli)
    : cli_(cli)
    , settings_(requests_)
{
    QObject::connect(&settings_, &DeviceSettings::finished,
        [this](const SettingsResult &end) { result_ = end; });
}

bool CliSettings::run(const std::function<void(DeviceSettings &)> &send)
{
    CliContext::waitFor(&settings_, &DeviceSettings::finished, [&] { send(settings_); });
    if (!result_.ok)
        cli_.fail(result_.error.isEmpty() ? "not-supported" : "request-failed",
            result_.error.isEmpty()
                ? QCoreApplication::translate("CommandLine", "request not supported")
                : result_.error);
    return result_.ok;
}
