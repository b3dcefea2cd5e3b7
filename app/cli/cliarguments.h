#pragma once

#include "devicefilter.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

enum class CliCommand { List, Check, Update, Settings, UserModes, Signal };

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
    QString package; // check, update
    DeviceFilter filter;
    QString port; // "BUS-PATH" as `list` shows it, such as 2-3.1; empty: any
    bool json = false;
    std::optional<bool> aspectRatio;
    std::optional<bool> performance;
    std::optional<bool> audioSelector;
    std::vector<UserModeChange> modes;
    bool watch = false;
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
