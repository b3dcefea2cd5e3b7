#pragma once

#include <QDBusUnixFileDescriptor>
#include <QString>

// Keeps the machine from suspending, hibernating, powering off or rebooting for as long as it
// exists: a logind inhibitor lock in "block" mode, taken on the system bus when constructed.
// logind holds the lock while any copy of the file descriptor it hands out stays open, so the
// lock goes with this object. Without a system bus or logind (or when logind does not answer
// within a second) there is no lock, a debug line says why, and nothing else changes: a
// flashing run never waits for, or fails because of, the lock.
class SleepInhibitor
{
public:
    // `why` is what logind shows to whoever tries to suspend or shut down meanwhile.
    explicit SleepInhibitor(const QString &why);
    SleepInhibitor(const SleepInhibitor &) = delete;
    SleepInhibitor &operator=(const SleepInhibitor &) = delete;

    bool held() const { return lock_.isValid(); }

private:
    // The one copy of logind's descriptor: its destructor closes it, which releases the lock.
    QDBusUnixFileDescriptor lock_;
};
