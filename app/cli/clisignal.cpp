#include "clicommands.h"
#include "clicontext.h"
#include "devicerequests.h"
#include "inputsignalpoller.h"
#include "terminationsignals.h"

#include <QEventLoop>

int runSignal(CliContext &cli)
{
    const CliArguments &arguments = cli.arguments;
    TerminationSignals termination;
    DeviceDescription desc;
    const int selected = cli.selectOne(desc);
    if (selected != CliExit::Success)
        return selected;

    // While watching, until SIGINT, SIGTERM or SIGHUP, or until nobody reads the output any
    // more (`| head -1`): a watcher without a reader would poll the device for ever, so no
    // reading is asked for once the reader has gone.
    QEventLoop watch;
    bool watching = false;
    DeviceRequests requests;
    InputSignalPoller poller(requests, [&](DeviceDescription &out) {
        if (watching && cli.outputGone()) {
            watch.quit();
            return false;
        }
        out = desc;
        return true;
    });
    QString last;
    bool answered = false;
    QObject::connect(&poller, &InputSignalPoller::reading, [&](const InputSignalReading &reading) {
        if (arguments.json) {
            QJsonObject object {{"signal", reading.text}};
            if (reading.status) {
                object.insert("width", reading.status->width);
                object.insert("height", reading.status->height);
                object.insert("refreshMilliHz", double(reading.status->refreshMilliHz));
                object.insert("interlaced", reading.status->interlaced != 0);
            }
            if (!reading.error.isEmpty()) {
                object.insert("error", reading.error);
                object.insert("code", "request-failed");
            }
            cli.printJson(object);
        } else if (reading.text != last) {
            cli.printLine(reading.text);
        }
        last = reading.text;
        if (!reading.error.isEmpty())
            cli.printError(reading.error);
        answered = bool(reading.status);
    });

    CliContext::waitFor(&poller, &InputSignalPoller::reading, [&] { poller.readNow(); });
    if (!arguments.watch)
        return answered ? CliExit::Success : CliExit::Failed;

    QObject::connect(&poller, &InputSignalPoller::reading, &watch, [&] {
        if (cli.outputGone())
            watch.quit();
    });
    QObject::connect(&termination, &TerminationSignals::received, &watch, &QEventLoop::quit);
    watching = true;
    poller.start();
    watch.exec();
    return CliExit::Success;
}
