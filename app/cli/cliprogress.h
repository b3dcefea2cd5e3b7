#pragma once

#include <QJsonObject>
#include <QString>

class CliContext;

// An update's progress in the output style the command line was given: a JSON event a step
// value (--json), a bar redrawn in place (a terminal), or a line for each new value.
class CliProgress
{
public:
    // `device`: the device's JSON, which every JSON event carries.
    CliProgress(CliContext &cli, const QJsonObject &device);

    // `percent` of the update, in the step `key` (for scripts) or `label` (for people).
    void show(int percent, const QString &key, const QString &label);
    // An error cuts a bar's line, so the error gets a line of its own.
    void interrupt();
    // The update has ended; `ok`: successfully.
    void finish(bool ok);

private:
    CliContext &cli_;
    const QJsonObject device_;
    const bool bar_;
    int shown_ = -1;
};
