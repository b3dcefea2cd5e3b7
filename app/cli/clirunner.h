#pragma once

#include "cliarguments.h"
#include "clicontext.h"
#include "updatejob.h"

#include <QTextStream>

// Carries out one command of the command line on the window's own worker threads (see
// CliContext for where its output goes).
class CliRunner
{
public:
    CliRunner(QTextStream &out, QTextStream &err, bool terminal, UpdatePacing pacing = {});

    // The exit status.
    int run(const CliArguments &arguments);

private:
    QTextStream &out_;
    QTextStream &err_;
    bool terminal_;
    UpdatePacing pacing_;
};
