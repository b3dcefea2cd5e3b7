#include "clicommands.h"
#include "clicontext.h"
#include "devicerequests.h"
#include "devicesettings.h"

#include <QJsonArray>

int runUserModes(CliContext &cli)
{
    const CliArguments &arguments = cli.arguments;
    DeviceDescription desc;
    const int selected = cli.selectOne(desc);
    if (selected != CliExit::Success)
        return selected;
    if (!(desc.capabilities & CapUserModes)) {
        cli.fail(cliText("The device's firmware has no user modes."));
        return CliExit::Failed;
    }

    DeviceRequests requests;
    DeviceSettings settings(requests);
    SettingsResult result;
    QObject::connect(
        &settings, &DeviceSettings::finished, [&](const SettingsResult &end) { result = end; });
    const auto request = [&](const std::function<void()> &send) {
        CliContext::waitFor(&settings, &DeviceSettings::finished, send);
        if (!result.ok)
            cli.fail(result.error.isEmpty() ? cliText("request not supported") : result.error);
        return result.ok;
    };

    if (!request([&] { settings.readUserModes(desc); }))
        return CliExit::Failed;
    if (!arguments.modes.empty()) {
        UserModes modes = result.modes;
        for (const UserModeChange &change : arguments.modes) {
            UserMode &mode = modes[change.index];
            mode.disabled = change.offered ? 0 : 1;
            if (change.offered) {
                mode.width = change.width;
                mode.height = change.height;
            }
        }
        if (!request([&] { settings.writeUserModes(desc, modes); })
            || !request([&] { settings.readUserModes(desc); }))
            return CliExit::Failed;
    }

    QJsonArray array;
    for (uint16_t index = 0; index < UserModeCount; ++index) {
        const UserMode &mode = result.modes[index];
        array.append(QJsonObject {{"mode", index + 1}, {"offered", mode.disabled == 0},
            {"width", mode.width}, {"height", mode.height}});
        const QString size = QString("%1x%2").arg(mode.width).arg(mode.height);
        if (!arguments.json)
            cli.printLine(QString("%1: %2").arg(index + 1).arg(
                mode.disabled == 0 ? size : cliText("off (%1)").arg(size)));
    }
    if (arguments.json)
        cli.printJson({{"userModes", array}});
    return CliExit::Success;
}
