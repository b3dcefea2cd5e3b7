#pragma once

#include "devicefilter.h"

#include <QByteArray>
#include <QString>

// What the window's command line asks for. The window has no usage text: the options only
// pre-configure it.
struct CommandLine {
    DeviceFilter filter;
    // The -firmware package as the user sees its name, and the bytes of that name as they came:
    // a Linux file name need not be valid UTF-8, and its text may name another file.
    QString firmwarePath;
    QByteArray firmwareFile;
    bool autoUpdate = false;
};

// Reads the arguments that QApplication has left over (argv[0] is the program). Options match
// whole arguments, case-sensitively; an option's value is the next argument whatever it looks
// like; the last of a repeated option wins; unknown arguments and a value-taking option at the
// very end are skipped. -vid and -pid are hexadecimal (0x allowed); one that does not convert
// is 0, no constraint.
CommandLine parseCommandLine(int argc, const char *const *argv);
