#pragma once

#include "devicefilter.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

enum class CliCommand { List, Check, Update, Settings, UserModes, Signal, History };

// One --mode of `user-modes`: mode `index` (0 to 2) offered at `width` x `height`, or not
// offered (its size then stays as the device has it).
struct UserModeChange {
    uint16_t index = 0;
    bool offered = true;
    uint16_t width = 0;
    uint16_t height = 0;
};

// What the command line of lumexor-capture-cli asks for.
struct CliArguments {
    CliCommand command = CliCommand::List;
    QString package; // check, update: the path as text, for showing it
    // The bytes of that path as the command line gave them, which is the file to open: the
    // text has U+FFFD where the name's bytes are not UTF-8. Null when they cannot be told
    // (packageFileError says why). Filled in from argv, which the parser never sees.
    QByteArray packageFile;
    QString packageFileError;
    DeviceFilter filter;
    QString port; // "BUS-PATH" as `list` shows it, such as 2-3.1; empty: any
    bool json = false;
    std::optional<bool> aspectRatio;
    std::optional<bool> performance;
    std::optional<bool> audioSelector;
    std::vector<UserModeChange> modes;
    bool watch = false;
    // update: go on although other programs have the device's video open.
    bool force = false;
    // update: every device the selection admits, `jobs` at a time (0: the default).
    bool all = false;
    int jobs = 0;
    // Keep the diagnostic lines of the USB layer, the scan and the update on standard error.
    bool debug = false;
};

struct CliParse {
    enum Outcome { Run, Help, Version, UsageError };
    Outcome outcome = Run;
    // The help text, or the usage error for the standard error stream.
    QString text;
};

// Reads `arguments` (the program name first). Every option is checked against the command it
// belongs to, so a mistyped or misplaced option is a usage error rather than ignored.
CliParse parseCliArguments(const QStringList &arguments, CliArguments &out);
