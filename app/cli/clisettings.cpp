#include "clicommands.h"
#include "clicontext.h"
#include "devicesettings.h"

#include <QCoreApplication>

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
        cli.fail("not-supported",
            QCoreApplication::translate("CommandLine", "The device offers no settings."));
        return CliExit::Failed;
    }
    for (const Switch &one : switches) {
        if ((arguments.*one.wanted) && !(desc.capabilities & switchCapability(one.which))) {
            cli.fail("not-supported",
                QCoreApplication::translate("CommandLine", "The device has no %1 setting.")
                    .arg(QCoreApplication::translate("CommandLine", one.label)));
            return CliExit::Failed;
        }
    }

    CliSettings settings(cli);

    if (!settings.run([&](DeviceSettings &device) { device.readSwitches(desc); }))
        return CliExit::Failed;
    const bool change = std::any_of(std::begin(switches), std::end(switches),
        [&](const Switch &one) { return bool(arguments.*one.wanted); });
    if (change) {
        DeviceSwitches value = settings.result().switches;
        for (const Switch &one : switches)
            value[one.which] = (arguments.*one.wanted).value_or(value[one.which]);
        if (!settings.run([&](DeviceSettings &device) { device.writeSwitches(desc, value); })
            || !settings.run([&](DeviceSettings &device) { device.readSwitches(desc); }))
            return CliExit::Failed;
    }

    QJsonObject object;
    for (const Switch &one : switches) {
        if (!(desc.capabilities & switchCapability(one.which)))
            continue;
        const bool on = settings.result().switches[one.which];
        object.insert(one.key, on);
        if (!arguments.json)
            cli.printLine(
                QString("%1: %2").arg(QCoreApplication::translate("CommandLine", one.label),
                    on ? QCoreApplication::translate("CommandLine", "on")
                       : QCoreApplication::translate("CommandLine", "off")));
    }
    if (arguments.json)
        cli.printJson(object);
    return CliExit::Success;
}
