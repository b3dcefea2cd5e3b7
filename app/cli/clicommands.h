#pragma once

class CliContext;

// The commands of lumexor-capture-cli, one file each; each returns the exit status (CliExit).
int runList(CliContext &cli);
int runCheck(CliContext &cli);
int runUpdate(CliContext &cli);
// update --all
int runFleetUpdate(CliContext &cli);
int runSettings(CliContext &cli);
int runUserModes(CliContext &cli);
int runSignal(CliContext &cli);
int runHistory(CliContext &cli);
