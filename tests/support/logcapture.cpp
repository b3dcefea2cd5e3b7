#include "logcapture.h"

#include <QMutex>
#include <QMutexLocker>

#include <iostream>

namespace testsupport {

namespace {

// Qt's message handler is a plain function pointer; this is what it writes into. Messages may
// come from worker threads, hence the lock.
QMutex capturedMutex;
QStringList captured;

void captureMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    QMutexLocker lock(&capturedMutex);
    captured << message;
}

} // namespace

LogCapture::LogCapture()
    : oldClog_(std::clog.rdbuf(progress_.rdbuf()))
    , oldCerr_(std::cerr.rdbuf(errors_.rdbuf()))
{
    {
        QMutexLocker lock(&capturedMutex);
        captured.clear();
    }
    oldHandler_ = qInstallMessageHandler(captureMessage);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(oldHandler_);
    std::clog.rdbuf(oldClog_);
    std::cerr.rdbuf(oldCerr_);
}

QStringList LogCapture::debug() const
{
    QMutexLocker lock(&capturedMutex);
    return captured;
}

} // namespace testsupport
