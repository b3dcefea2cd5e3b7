#include "quietlogs.h"

#include <QtGlobal>

#include <cstdlib>
#include <iostream>

void quietLogs()
{
    if (std::getenv("LUMEXOR_FUZZ_LOGS"))
        return;
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    // A stream without a buffer drops what is written to it.
    std::cerr.rdbuf(nullptr);
}
