#include "cliprogress.h"

#include "clicontext.h"

#include <QCoreApplication>

CliProgress::CliProgress(CliContext &cli, const QJsonObject &device)
    : cli_(cli)
    , device_(device)
    , bar_(cli.terminal && !cli.arguments.json)
{
}

void CliProgress::show(int percent, const QString &key, const QString &label)
{
    if (cli_.arguments.json) {
        cli_.printJson(
            {{"event", "progress"}, {"percent", percent}, {"step", key}, {"device", device_}});
    } else if (bar_) {
        constexpr int width = 30;
        const int filled = percent * width / 100;
        cli_.out << '\r' << '[' << QString(filled, '#') << QString(width - filled, '-') << "] "
                 << QString::number(percent).rightJustified(3) << "%  " << label.leftJustified(30)
                 << Qt::flush;
    } else if (percent != shown_) {
        cli_.printLine(QString("%1% %2").arg(percent).arg(label));
    }
    shown_ = percent;
}

void CliProgress::interrupt()
{
    if (bar_)
        cli_.out << Qt::endl;
}

void CliProgress::finish(bool ok)
{
    if (ok)
        show(100, "done", QCoreApplication::translate("CommandLine", "done"));
    if (bar_ && ok)
        cli_.out << Qt::endl;
}
