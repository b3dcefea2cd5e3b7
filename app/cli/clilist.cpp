#include "clicommands.h"
#include "clicontext.h"
#include "clidevices.h"

#include <QJsonArray>

int runList(CliContext &cli)
{
    QStringList errors;
    const std::vector<DeviceDescription> devices
        = clidevices::selectDevices(cli.scan(errors), cli.arguments.filter, cli.arguments.port);
    for (const QString &text : errors)
        cli.printError(text);
    if (cli.arguments.json) {
        QJsonArray array;
        for (const DeviceDescription &desc : devices)
            array.append(clidevices::deviceJson(desc));
        cli.printJson({{"devices", array}});
    } else {
        for (const DeviceDescription &desc : devices)
            cli.out << clidevices::deviceLine(desc) << Qt::endl;
    }
    return errors.isEmpty() ? CliExit::Success : CliExit::Failed;
}
