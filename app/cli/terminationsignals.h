#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <csignal>

// Turns SIGINT and SIGTERM into a Qt signal on the thread that made the object, for as long
// as it lives: a flash must not be cut off half-way by Ctrl+C or a service manager's stop, so
// the tool finishes the update first. A signal handler may do next to nothing, so it only
// writes the number into a socket pair that the event loop watches. One object at a time.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    // Gives the two signals their earlier handlers back.
    ~TerminationSignals() override;

    bool isActive() const { return notifier_ != nullptr; }

signals:
    void received(int signalNumber);

private:
    void readSignal();

    int sockets_[2] = {-1, -1};
    QSocketNotifier *notifier_ = nullptr;
    struct sigaction oldInterrupt_ {
    };
    struct sigaction oldTerminate_ {
    };
};
