// update --all: the fleet runner's reports in the tool's output styles. Every line of text
// starts with the device's port and serial, every JSON event carries the device, and the
// summary names each device's result.
#include "clicommands.h"
#include "clicontext.h"
#include "clidevices.h"
#include "clioutput.h"
#include "fleetupdate.h"
#include "packagefile.h"
#include "terminationsignals.h"

#include <QCoreApplication>
#include <QJsonArray>

#include <algorithm>

namespace {

// For scripts, and for people in the summary's text.
const std::pair<const char *, const char *> resultNames[] = {
    {"waiting", QT_TRANSLATE_NOOP("CommandLine", "waiting")},
    {"running", QT_TRANSLATE_NOOP("CommandLine", "running")},
    {"success", QT_TRANSLATE_NOOP("CommandLine", "updated")},
    {"failure", QT_TRANSLATE_NOOP("CommandLine", "failed")},
    {"skipped", QT_TRANSLATE_NOOP("CommandLine", "skipped")},
    {"not-started", QT_TRANSLATE_NOOP("CommandLine", "not started")},
};

void printSummary(CliContext &cli, const FleetUpdate &fleet,
    const std::vector<DeviceDescription> &after, int status)
{
    const std::vector<FleetDevice> &devices = fleet.devices();
    QJsonArray array;
    int updated = 0;
    for (size_t i = 0; i < devices.size(); ++i) {
        const FleetDevice &device = devices[i];
        const auto [name, label] = resultNames[device.result];
        updated += device.result == FleetDevice::Succeeded;
        if (cli.arguments.json) {
            QJsonObject entry {{"port", clidevices::portText(device.desc)},
                {"serial", device.desc.serial}, {"product", after[i].product},
                {"versionBefore", device.desc.version}, {"version", after[i].version},
                {"result", name}};
            if (device.result != FleetDevice::Succeeded)
                entry.insert(
                    "error", QJsonObject {{"code", device.code}, {"message", device.message}});
            array.append(entry);
            continue;
        }
        // Columns as `list` has them (port, serial), the result, and the error text last.
        const QString port = clidevices::portText(device.desc).leftJustified(10);
        const QString serial
            = (device.desc.serial.isEmpty() ? QString("-")
                                            : clioutput::escapedText(device.desc.serial, true))
                  .leftJustified(10);
        QString line
            = port + ' ' + serial + ' ' + QCoreApplication::translate("CommandLine", label);
        if (!device.message.isEmpty())
            line += ": " + clioutput::escapedText(device.message).replace('\n', ' ');
        cli.out << line << Qt::endl;
    }
    const int total = int(devices.size());
    if (cli.arguments.json) {
        cli.printJson({{"event", "summary"}, {"result", status == 0 ? "success" : "failure"},
            {"exitStatus", status}, {"interrupted", fleet.stopped()}, {"updated", updated},
            {"devices", array}});
    } else {
        cli.printLine(
            QCoreApplication::translate("CommandLine", "%1 of %n device(s) updated", nullptr, total)
                .arg(updated));
    }
}

} // namespace

int runFleetUpdate(CliContext &cli)
{
    const CliArguments &arguments = cli.arguments;
    TerminationSignals termination;
    if (arguments.packageFile.isNull()) {
        cli.fail("package-unreadable", packagefile::openError(arguments.packageFileError));
        return CliExit::Failed;
    }
    const std::vector<DeviceDescription> devices = cli.selectAll();
    if (devices.empty())
        return CliExit::NoDevice;

    FleetUpdate fleet(devices, arguments.packageFile,
        arguments.jobs > 0 ? arguments.jobs : FleetUpdate::DefaultJobs, arguments.force,
        cli.pacing);
    const auto device = [&](int index) { return clidevices::deviceJson(devices[size_t(index)]); };
    const auto tag = [&](int index) { return clidevices::deviceTag(devices[size_t(index)]); };
    std::vector<QString> shownStep(devices.size());
    QObject::connect(&fleet, &FleetUpdate::started, [&](int index) {
        if (arguments.json)
            cli.printJson({{"event", "start"}, {"device", device(index)}});
        else
            cli.out << tag(index) << ' '
                    << QCoreApplication::translate("CommandLine", "Updating %1")
                           .arg(clidevices::deviceLine(devices[size_t(index)]))
                    << Qt::endl;
    });
    QObject::connect(&fleet, &FleetUpdate::step,
        [&](int index, int percent, const QString &key, const QString &label) {
            // 100 is only "done" once the last completion request has been answered.
            if (percent >= 100)
                return;
            if (arguments.json) {
                cli.printJson({{"event", "progress"}, {"percent", percent}, {"step", key},
                    {"device", device(index)}});
            } else if (shownStep[size_t(index)] != key) {
                // A line a step: eight devices' every percent would bury the errors.
                shownStep[size_t(index)] = key;
                cli.out << tag(index) << ' ' << QString("%1% %2").arg(percent).arg(label)
                        << Qt::endl;
            }
        });
    QObject::connect(
        &fleet, &FleetUpdate::error, [&](int index, const QString &code, const QString &text) {
            cli.err << tag(index) << ' ';
            cli.printError(text);
            if (arguments.json)
                cli.printJson({{"event", "error"}, {"code", code}, {"message", text},
                    {"device", device(index)}});
        });
    QObject::connect(&fleet, &FleetUpdate::ended, [&](int index) {
        const FleetDevice &result = fleet.devices()[size_t(index)];
        if (!arguments.json && result.result == FleetDevice::Succeeded)
            cli.out << tag(index) << ' '
                    << QCoreApplication::translate("CommandLine", "Update completed") << Qt::endl;
    });
    QObject::connect(&termination, &TerminationSignals::received, [&](int) {
        if (fleet.stopped())
            return;
        const bool running = std::any_of(fleet.devices().begin(), fleet.devices().end(),
            [](const FleetDevice &one) { return one.result == FleetDevice::Running; });
        const QString text = running
            ? QCoreApplication::translate("CommandLine",
                "Signal received: the updates in progress go on, no other starts, and "
                "the tool stops when they end. Do not unplug the devices.")
            : QCoreApplication::translate(
                "CommandLine", "Interrupted before the update started; nothing was written.");
        cli.printError(text);
        if (arguments.json)
            cli.printJson({{"event", "notice"}, {"message", text}});
        fleet.stop();
    });
    // A signal during the scan stops here, before any write.
    QCoreApplication::processEvents();
    CliContext::waitFor(&fleet, &FleetUpdate::finished, [&] { fleet.start(); });

    // The devices as they are now, found again on their ports, once no flash is in progress
    // that the scan's probe could meet.
    const std::vector<DeviceDescription> after = cli.rescan(devices);
    const int status = fleet.succeeded() ? CliExit::Success : CliExit::Failed;
    if (arguments.json) {
        for (size_t i = 0; i < devices.size(); ++i) {
            const FleetDevice &result = fleet.devices()[i];
            cli.printJson({{"event", "end"}, {"result", resultNames[result.result].first},
                {"exitStatus", result.result == FleetDevice::Succeeded ? 0 : 1},
                {"device", clidevices::deviceJson(after[i])}});
        }
    }
    printSummary(cli, fleet, after, status);
    return status;
}
