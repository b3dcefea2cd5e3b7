#include "terminationsignals.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The write end for the handler. A signal handler can reach nothing but globals; this is the
// one, set while a TerminationSignals object lives.
volatile sig_atomic_t writeEnd = -1;

extern "C" void onTerminationSignal(int signalNumber)
{
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signalNumber);
    // Non-blocking: with the event loop stalled, a burst of signals drops its excess instead
    // of hanging the handler.
    if (writeEnd >= 0)
        (void)!::write(writeEnd, &number, 1);
    errno = saved;
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets_) != 0)
        return;
    ::fcntl(sockets_[0], F_SETFL, ::fcntl(sockets_[0], F_GETFL) | O_NONBLOCK);
    writeEnd = sockets_[0];
    notifier_ = new QSocketNotifier(sockets_[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::readSignal);

    struct sigaction action {
    };
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted system calls go on, so a signal during a USB transfer does not fail it.
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < handled_.size(); ++i) {
        sigaction(handled_[i], nullptr, &old_[i]);
        if (old_[i].sa_handler != SIG_IGN)
            sigaction(handled_[i], &action, nullptr);
    }
}

TerminationSignals::~TerminationSignals()
{
    if (!notifier_)
        return;
    for (size_t i = 0; i < handled_.size(); ++i)
        sigaction(handled_[i], &old_[i], nullptr);
    writeEnd = -1;
    ::close(sockets_[0]);
    ::close(sockets_[1]);
}

void TerminationSignals::readSignal()
{
    unsigned char number = 0;
    if (::read(sockets_[1], &number, 1) == 1)
        emit received(number);
}
