#include "clicommands.h"
#include "clicontext.h"
#include "devicerequests.h"
#include "devicesettings.h"

#include <algorithm>
#include <iterator>

namespace {

struct Switch {
    SettingSwitch which;
    const char *key;
    const char *label;
    std::optional<bool> CliArguments::*wanted;
};

const Switch switches[] = {
    {AspectRatioSwitch, "aspectRatio", QT_TRANSLATE_NOOP("CommandLine", "keep aspect ratio"),
        &CliArguments::aspectRatio},
    {PerformanceSwitch, "performance", QT_TRANSLATE_NOOP("CommandLine", "performance mode"),
        &CliArguments::performance},
    {AudioSelectorSwitch, "audioSelector", QT_TRANSLATE_NOOP("CommandLine", "audio selector"),
        &CliArguments::audioSelector},
};

} // namespace

int runSettings(CliContext &cli)
{
    const CliArguments &arguments = cli.arguments;
    DeviceDescription desc;
    const int selected = cli.selectOne(desc);
    if (selected != CliExit::Success)
        return selected;
    if (!(desc.capabilities & CapDeviceSettings)) {
        cli.fail(cliText("The device offers no settings."));
        return CliExit::Failed;
    }
    for (const Switch &one : switches) {
        if ((arguments.*one.wanted) && !(desc.capabilities & switchCapability(one.which))) {
            cli.fail(cliText("The device has no %1 setting.").arg(cliText(one.label)));
            return CliExit::Failed;
        }
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

    if (!request([&] { settings.readSwitches(desc); }))
        return CliExit::Failed;
    const bool change = std::any_of(std::begin(switches), std::end(switches),
        [&](const Switch &one) { return bool(arguments.*one.wanted); });
    if (change) {
        DeviceSwitches value = result.switches;
        for (const Switch &one : switches)
            value[one.which] = (arguments.*one.wanted).value_or(value[one.which]);
        if (!request([&] { settings.writeSwitches(desc, value); })
            || !request([&] { settings.readSwitches(desc); }))
            return CliExit::Failed;
    }

    QJsonObject object;
    for (const Switch &one : switches) {
        if (!(desc.capabilities & switchCapability(one.which)))
            continue;
        const bool on = result.switches[one.which];
        object.insert(one.key, on);
        if (!arguments.json)
            cli.printLine(
                QString("%1: %2").arg(cliText(one.label), on ? cliText("on") : cliText("off")));
    }
    if (arguments.json)
        cli.printJson(object);
    return CliExit::Success;
}
