#include "clicommands.h"
#include "clicontext.h"
#include "devicesettings.h"

#include <QCoreApplication>
#include <QJsonArray>

int runUserModes(CliContext &cli)
{
    const CliArguments &arguments = cli.arguments;
    DeviceDescription desc;
    const int selected = cli.selectOne(desc);
    if (selected != CliExit::Success)
        return selected;
    if (!(desc.capabilities & CapUserModes)) {
        cli.fail("not-supported",
            QCoreApplication::translate("CommandLine", "The device's firmware has no user modes."));
        return CliExit::Failed;
    }

    CliSettings settings(cli);

    if (!settings.run([&](DeviceSettings &device) { device.readUserModes(desc); }))
        return CliExit::Failed;
    if (!arguments.modes.empty()) {
        UserModes modes = settings.result().modes;
        for (const UserModeChange &change : arguments.modes) {
            UserMode &mode = modes[change.index];
            mode.disabled = change.offered ? 0 : 1;
            if (change.offered) {
                mode.width = change.width;
                mode.height = change.height;
            }
        }
        if (!settings.run([&](DeviceSettings &device) { device.writeUserModes(desc, modes); })
            || !settings.run([&](DeviceSettings &device) { device.readUserModes(desc); }))
            return CliExit::Failed;
    }

    QJsonArray array;
    for (uint16_t index = 0; index < UserModeCount; ++index) {
        const UserMode &mode = settings.result().modes[index];
        array.append(QJsonObject {{"mode", index + 1}, {"offered", mode.disabled == 0},
            {"width", mode.width}, {"height", mode.height}});
        const QString size = QString("%1x%2").arg(mode.width).arg(mode.height);
        if (!arguments.json)
            cli.printLine(QString("%1: %2").arg(index + 1).arg(mode.disabled == 0
                    ? size
                    : QCoreApplication::translate("CommandLine", "off (%1)").arg(size)));
    }
    if (arguments.json)
        cli.printJson({{"userModes", array}});
    return CliExit::Success;
}
