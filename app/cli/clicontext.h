#pragma once

#include "cliarguments.h"
#include "devicedescription.h"
#include "devicerequests.h"
#include "devicesettings.h"
#include "updatejob.h"

#include <QEventLoop>
#include <QJsonObject>
#include <QTextStream>

#include <functional>
#include <vector>

// Exit statuses of lumexor-capture-cli.
namespace CliExit {
constexpr int Success = 0;
constexpr int Failed = 1;
constexpr int Usage = 2;
constexpr int NoDevice = 3; // none or more than one matched
} // namespace CliExit

// The version of every JSON value the tool writes (docs/cli-json.md): it goes up when a field
// is removed, renamed or changes its meaning, not when one is added.
constexpr int CliSchemaVersion = 1;

// What every command of the command line works with: its arguments, where its output goes and
// how, and the shared steps of choosing a device and waiting for the worker threads, in local
// event loops, which a tool without a window may. `out` gets the results (text, or JSON with
// --json), `err` the errors, in the window's texts; text output escapes what came from a
// device or a package, JSON keeps it exact. `terminal`: the output is a terminal, so the
// update shows a progress bar rather than lines.
class CliContext
{
public:
    CliContext(QTextStream &out, QTextStream &err, bool terminal, const UpdatePacing &pacing,
        const CliArguments &arguments);

    QTextStream &out;
    QTextStream &err;
    const bool terminal;
    const UpdatePacing pacing;
    const CliArguments &arguments;

    // A line of text output, and an error line, with what came from outside escaped (see
    // clioutput::escapedText); an error's further lines are indented by two spaces. Lines that
    // hold deviceLine() are escaped already and go out without these.
    void printLine(const QString &line);
    void printError(const QString &text);
    // One JSON value a line, with the schema version.
    void printJson(QJsonObject object);
    // A failure: its text on the error stream and, with --json, as {"error": text, "code":
    // code} plus `extra` on the output. `code` is the stable name of the failure for scripts.
    void fail(const char *code, const QString &text, const QJsonObject &extra = {});
    // Nobody reads the output any more.
    bool outputGone() const;

    // Scans once; the devices found and the scan's error texts.
    std::vector<DeviceDescription> scan(QStringList &errors);
    // Exactly one device of the selection, or CliExit::NoDevice after saying why.
    int selectOne(DeviceDescription &chosen);
    // The selection's devices, or none after saying why.
    std::vector<DeviceDescription> selectAll();
    // `devices` as a new scan finds them on their ports (after an update: the new version);
    // one that is not found there stays as it was.
    std::vector<DeviceDescription> rescan(std::vector<DeviceDescription> devices);

    // Calls `start` and waits for `sender` to emit `signal`.
    template<typename Sender, typename... Args>
    static void waitFor(
        Sender *sender, void (Sender::*signal)(Args...), const std::function<void()> &start)
    {
        QEventLoop loop;
        QObject::connect(sender, signal, &loop, &QEventLoop::quit);
        start();
        loop.exec();
    }
};

// The device's settings as the commands ask for them: one whole request at a time, waited for;
// a failure is reported through the context ("request not supported" when the device answered
// without data) and leaves false.
class CliSettings
{
public:
    explicit CliSettings(CliContext &cli);
    bool run(const std::function<void(DeviceSettings &)> &send);
    const SettingsResult &result() const { return result_; }

private:
    CliContext &cli_;
    DeviceRequests requests_;
    DeviceSettings settings_;
    SettingsResult result_;
};
