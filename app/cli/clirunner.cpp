#include "clirunner.h"

#include "clicommands.h"

CliRunner::CliRunner(QTextStream &out, QTextStream &err, bool terminal, UpdatePacing pacing)
    : out_(out)
    , err_(err)
    , terminal_(terminal)
    , pacing_(pacing)
{
    registerUsbMetaTypes();
}

int CliRunner::run(const CliArguments &arguments)
{
    CliContext cli(out_, err_, terminal_, pacing_, arguments);
    switch (arguments.command) {
    case CliCommand::List:
        return runList(cli);
    case CliCommand::Check:
        return runCheck(cli);
    case CliCommand::Update:
        return runUpdate(cli);
    case CliCommand::Settings:
        return runSettings(cli);
    case CliCommand::UserModes:
        return runUserModes(cli);
    case CliCommand::Signal:
        return runSignal(cli);
    case CliCommand::History:
        return runHistory(cli);
    }
    return CliExit::Usage;
}
