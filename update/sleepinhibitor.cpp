#include "sleepinhibitor.h"

#include "debuglog.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDebug>

namespace {

// logind answers at once. One that does not (stuck, or a bus that never delivers the call)
// gets this long before the run goes on without the lock.
constexpr int inhibitTimeoutMs = 1000;

} // namespace

SleepInhibitor::SleepInhibitor(const QString &why)
{
    const QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        qCDebug(defaultLog).noquote()
            << "No sleep inhibitor: no system bus:" << bus.lastError().message();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"),
        QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
        QStringLiteral("Inhibit"));
    // "block" rather than "delay": a delay lock only postpones sleep for logind's
    // InhibitDelayMaxSec (5 s by default), far less than a flashing run takes. The name is the
    // one logind lists the lock under, whichever program runs the update.
    call << QStringLiteral("sleep:shutdown") << QStringLiteral("Lumexor Capture Config") << why
         << QStringLiteral("block");
    const QDBusMessage reply = bus.call(call, QDBus::Block, inhibitTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qCDebug(defaultLog).noquote()
            << "No sleep inhibitor:" << reply.errorName() + ':' << reply.errorMessage();
        return;
    }
    lock_ = qdbus_cast<QDBusUnixFileDescriptor>(reply.arguments().value(0));
    if (!lock_.isValid())
        qCDebug(defaultLog).noquote()
            << "No sleep inhibitor: logind answered" << reply.signature() << "without a descriptor";
}
