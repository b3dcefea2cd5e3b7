#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace testsupport {

// QTest::qWaitFor, but looking every fifth of a millisecond instead of every ten: a worker's
// result mostly arrives within one, and a test that waits hundreds of times would otherwise spend
// its time asleep. True when `condition` held within `timeoutMs`.
template<typename Condition> bool waitFor(Condition condition, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QThread::usleep(200);
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

} // namespace testsupport
