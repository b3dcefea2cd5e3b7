#pragma once

#include "cliarguments.h"
#include "configdevicedata.h"
#include "devicedescription.h"
#include "updatepacing.h"

#include <QJsonObject>
#include <QObject>
#include <QTextStream>

#include <functional>
#include <vector>

class ConfigDeviceAction;

// Exit statuses of lumexor-capture-cli.
namespace CliExit {
constexpr int Success = 0;
constexpr int Failed = 1;
constexpr int Usage = 2;
constexpr int NoDevice = 3; // none or more than one matched
} // namespace CliExit

// Carries out one command of the command line on the window's own worker tasks: the scanner,
// the update task and the configuration task, each on its thread; this object waits for them
// in local event loops, which a tool without a window may. `out` gets the results (text, or
// JSON with --json), `err` the errors, in the window's texts; text output escapes what came
// from a device or a package, JSON keeps it exact. `terminal`: the output is a terminal, so
// the update shows a progress bar rather than lines.
class CliRunner : public QObject
{
    Q_OBJECT

public:
    CliRunner(QTextStream &out, QTextStream &err, bool terminal, UpdatePacing pacing = {});

    // The exit status.
    int run(const CliArguments &arguments);

private:
    struct Reply {
        ConfigDeviceDataPtr data;
        uint16_t size = 0;
        QString error;
    };

    int list();
    int check();
    int update();
    int settings();
    int userModes();
    int signal();

    // Scans once; the devices found and the scan's error texts.
    std::vector<DeviceDescription> scan(QStringList &errors);
    // Exactly one device of the selection, or CliExit::NoDevice after saying why.
    int selectOne(DeviceDescription &chosen);
    // Sends a configuration request through `action` and waits for its completion.
    Reply request(ConfigDeviceAction &action, const std::function<void()> &send);
    // A failure: its text on the error stream and, with --json, as {"error": text} plus
    // `extra` on the output.
    void fail(const QString &text, const QJsonObject &extra = {});
    void printJson(const QJsonObject &object);
    // A line of text output, and an error line, with what came from outside escaped (see
    // clioutput::escapedText). Lines that hold deviceLine() are escaped already and go out
    // without these.
    void printLine(const QString &line);
    void printError(const QString &text);
    // Nobody reads the output any more.
    bool outputGone() const;

    QTextStream &out_;
    QTextStream &err_;
    bool terminal_;
    UpdatePacing pacing_;
    CliArguments arguments_;
};
