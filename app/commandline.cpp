#include "commandline.h"

#include "packagefile.h"

#include <cstring>

namespace {

// QString::toInt gives 0 for what does not convert, which the filter reads as "any".
int hexValue(const char *text)
{
    return QString::fromUtf8(text).toInt(nullptr, 16);
}

} // namespace

CommandLine parseCommandLine(int argc, const char *const *argv)
{
    CommandLine line;
    int i = 1;
    while (i < argc) {
        const char *arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (std::strcmp(arg, "-vid") == 0) {
            if (value)
                line.filter.vid = hexValue(value);
            i += 2;
        } else if (std::strcmp(arg, "-pid") == 0) {
            if (value)
                line.filter.pid = hexValue(value);
            i += 2;
        } else if (std::strcmp(arg, "-serial") == 0) {
            if (value)
                line.filter.serial = QString::fromUtf8(value);
            i += 2;
        } else if (std::strcmp(arg, "-firmware") == 0) {
            if (value) {
                line.firmwareFile = QByteArray(value);
                line.firmwarePath = packagefile::text(line.firmwareFile);
            }
            i += 2;
        } else if (std::strcmp(arg, "-update") == 0) {
            line.autoUpdate = true;
            i += 1;
        } else {
            // -help is recognised and has no effect, like anything unknown.
            i += 1;
        }
    }
    return line;
}
