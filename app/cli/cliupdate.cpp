#include "clicommands.h"
#include "clicontext.h"
#include "clidevices.h"
#include "cliprogress.h"
#include "deviceusers.h"
#include "packagefile.h"
#include "terminationsignals.h"

#include <QCoreApplication>

int runUpdate(CliContext &cli)
{
    const CliArguments &arguments = cli.arguments;
    if (arguments.all)
        return runFleetUpdate(cli);
    TerminationSignals termination;
    bool updating = false;
    bool stopRequested = false;
    QObject::connect(&termination, &TerminationSignals::received, [&](int) {
        if (stopRequested)
            return;
        stopRequested = true;
        if (!updating)
            return;
        const QString text = QCoreApplication::translate("CommandLine",
            "Signal received: the update goes on, and the tool stops "
            "when it ends. Do not unplug the device.");
        cli.printError(text);
        if (arguments.json)
            cli.printJson({{"event", "notice"}, {"message", text}});
    });

    if (arguments.packageFile.isNull()) {
        cli.fail("package-unreadable", packagefile::openError(arguments.packageFileError));
        return CliExit::Failed;
    }
    DeviceDescription desc;
    const int selected = cli.selectOne(desc);
    if (selected != CliExit::Success)
        return selected;
    const QJsonObject device = clidevices::deviceJson(desc);
    // A signal during the scan stops here, before any write.
    QCoreApplication::processEvents();
    if (stopRequested) {
        cli.fail("interrupted",
            QCoreApplication::translate(
                "CommandLine", "Interrupted before the update started; nothing was written."),
            {{"device", device}});
        return CliExit::Failed;
    }
    // The update restarts the device, which ends the capture of every program recording from
    // it: a script has to say that it means that.
    const QStringList users = deviceUsers(desc);
    if (!users.isEmpty() && !arguments.force) {
        cli.fail("device-in-use",
            QCoreApplication::translate("CommandLine",
                "The device is in use by %1: an update restarts it and ends their "
                "capture. Close them, or give --force.")
                .arg(users.join(", ")),
            {{"device", device}});
        return CliExit::Failed;
    }

    UpdateJob job(nullptr, cli.pacing);
    QStringList errors;
    CliProgress progress(cli, device);
    QObject::connect(
        &job, &UpdateJob::step, [&](int percent, const QString &key, const QString &label) {
            // Only the run's end tells whether 100 is "done": the last step's completion
            // request may still fail.
            if (percent >= 100)
                return;
            progress.show(percent, key, label);
        });
    QObject::connect(&job, &UpdateJob::error, [&](const QString &text) {
        errors << text;
        progress.interrupt();
        cli.printError(text);
    });

    if (!arguments.json)
        cli.out << QCoreApplication::translate("CommandLine", "Updating %1")
                       .arg(clidevices::deviceLine(desc))
                << Qt::endl;
    updating = true;
    CliContext::waitFor(
        &job, &UpdateJob::complete, [&] { job.startFile(desc, arguments.packageFile); });
    updating = false;

    const bool ok = errors.isEmpty();
    progress.finish(ok);
    if (arguments.json) {
        // Where the run failed is known once it is over.
        const QString code
            = job.failureCode().isEmpty() ? QString("update-failed") : job.failureCode();
        for (const QString &text : errors)
            cli.printJson(
                {{"event", "error"}, {"code", code}, {"message", text}, {"device", device}});
        cli.printJson({{"event", "end"}, {"result", ok ? "success" : "failure"},
            {"exitStatus", ok ? CliExit::Success : CliExit::Failed},
            {"device", clidevices::deviceJson(cli.rescan({desc}).front())}});
    } else {
        cli.printLine(ok ? QCoreApplication::translate("CommandLine", "Update completed")
                         : QCoreApplication::translate("CommandLine", "Update failed"));
    }
    return ok ? CliExit::Success : CliExit::Failed;
}
