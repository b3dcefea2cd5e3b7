#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <array>
#include <csignal>

// Turns SIGINT, SIGTERM and SIGHUP into a Qt signal on the thread that made the object, for as
// long as it lives: a flash must not be cut off half-way by Ctrl+C, a service manager's stop, a
// session's end or the hang-up of a dropped SSH session, so both programs finish the update
// first. A signal handler
// may do next to nothing, so it only writes the number into a socket pair that the event loop
// watches. A signal the process was started with ignored (nohup, a background job of a
// shell) stays ignored. One object at a time.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    // Gives the signals their earlier handlers back.
    ~TerminationSignals() override;

    bool isActive() const { return notifier_ != nullptr; }

signals:
    void received(int signalNumber);

private:
    void readSignal();

    static constexpr std::array<int, 3> handled_ {SIGINT, SIGTERM, SIGHUP};

    int sockets_[2] = {-1, -1};
    QSocketNotifier *notifier_ = nullptr;
    std::array<struct sigaction, 3> old_ {};
};
