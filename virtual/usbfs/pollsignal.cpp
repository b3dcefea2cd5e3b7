#include "pollsignal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace usbfs {

namespace {

[[noreturn]] void fail(const char *what)
{
    throw std::runtime_error(std::string("usbfs: ") + what + ": " + std::strerror(errno));
}

} // namespace

PollSignal::PollSignal()
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0)
        fail("posix_openpt");
    char name[128] = {};
    if (::unlockpt(master_) != 0 || ::ptsname_r(master_, name, sizeof name) != 0) {
        ::close(master_);
        fail("unlockpt");
    }
    path_ = name;
    // The slave end by the master, not by its path: this end is the test's own and must not
    // become anybody's controlling terminal.
    slave_ = ::ioctl(master_, TIOCGPTPEER, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        ::close(master_);
        fail("TIOCGPTPEER");
    }
    // Raw: nothing written to either end is echoed or turned into a signal.
    termios mode {};
    ::tcgetattr(slave_, &mode);
    ::cfmakeraw(&mode);
    ::tcsetattr(slave_, TCSANOW, &mode);
    ::tcflow(slave_, TCOOFF);
}

PollSignal::~PollSignal()
{
    hangUp();
}

void PollSignal::setReady(bool ready)
{
    if (slave_ < 0 || ready == ready_)
        return;
    ready_ = ready;
    // A stopped terminal offers no room for output: pollers see no POLLOUT until it restarts,
    // and the restart wakes them.
    ::tcflow(slave_, ready ? TCOON : TCOOFF);
}

void PollSignal::denyAccess()
{
    if (slave_ >= 0)
        ::fchmod(slave_, 0);
}

void PollSignal::hangUp()
{
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
    slave_ = master_ = -1;
}

} // namespace usbfs
