#include "deviceplacelock.h"

#include "usblog.h"

#include <sstream>

std::string DevicePlaceLock::placeName(uint8_t busNumber, const std::vector<uint8_t> &portPath)
{
    std::string name = std::to_string(busNumber) + '-';
    for (size_t i = 0; i < portPath.size(); ++i)
        name += (i ? "." : "") + std::to_string(portPath[i]);
    if (portPath.empty())
        name += '0';
    return name;
}

#ifdef _WIN32

// Windows gives a device to one WinUSB handle at a time: the open itself keeps programs apart.
DevicePlaceLock::~DevicePlaceLock() = default;

DevicePlaceLock::Outcome DevicePlaceLock::acquire(
    const std::string &, const char *, std::chrono::milliseconds)
{
    return Outcome::Taken;
}

void DevicePlaceLock::release() { }

#else

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr std::chrono::milliseconds pollPause {20};

// A folder of our own: made 0700 when missing, and taken only when it is a real folder (not a
// symbolic link someone planted) that belongs to this user.
bool ownFolder(const std::string &path)
{
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st {
    };
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid()
        && (st.st_mode & 0077) == 0;
}

std::string lockFolder()
{
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) {
        const std::string folder = std::string(runtime) + "/lumexor-capture-config";
        if (ownFolder(folder))
            return folder;
    }
    const std::string fallback = "/tmp/lumexor-capture-config-" + std::to_string(::getuid());
    return ownFolder(fallback) ? fallback : std::string();
}

PlaceHolder readHolder(int fd)
{
    char text[256] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    PlaceHolder holder;
    if (n <= 0)
        return holder;
    std::istringstream in(std::string(text, size_t(n)));
    in >> holder.pid >> holder.program;
    std::getline(in >> std::ws, holder.purpose);
    holder.known = holder.pid > 0 && !holder.program.empty() && !holder.purpose.empty();
    return holder;
}

std::string programName()
{
    std::string name = program_invocation_short_name;
    for (char &c : name) {
        if (c == ' ' || c == '\n')
            c = '_';
    }
    return name.empty() ? std::string("?") : name;
}

} // namespace

DevicePlaceLock::~DevicePlaceLock()
{
    release();
}

DevicePlaceLock::Outcome DevicePlaceLock::acquire(
    const std::string &place, const char *purpose, std::chrono::milliseconds wait)
{
    release();
    holder_ = PlaceHolder();
    const std::string folder = lockFolder();
    if (folder.empty()) {
        // Said once: the input-signal poll would repeat it every two seconds.
        static std::atomic_flag said = ATOMIC_FLAG_INIT;
        if (!said.test_and_set())
            usbProgressLog() << "No folder for the device locks: going on without them"
                             << std::endl;
        return Outcome::Unlocked;
    }
    const std::string path = folder + '/' + place + ".lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        usbProgressLog() << "Can't open the device lock " << path << ": going on without it"
                         << std::endl;
        return Outcome::Unlocked;
    }
    // flock belongs to the open file, so two threads of one process keep each other out too.
    const auto end = std::chrono::steady_clock::now() + wait;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        holder_ = readHolder(fd);
        if ((error != EWOULDBLOCK && error != EINTR) || holder_.purpose == Update
            || std::chrono::steady_clock::now() >= end) {
            ::close(fd);
            return Outcome::Busy;
        }
        std::this_thread::sleep_for(pollPause);
    }
    fd_ = fd;
    const std::string text
        = std::to_string(::getpid()) + ' ' + programName() + ' ' + purpose + '\n';
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, text.data(), text.size(), 0) < 0)
        usbProgressLog() << "Can't name the holder in " << path << std::endl;
    return Outcome::Taken;
}

void DevicePlaceLock::release()
{
    if (fd_ < 0)
        return;
    // Emptied first, so nobody names a holder that is gone.
    if (::ftruncate(fd_, 0) != 0)
        usbProgressLog() << "Can't empty a device lock" << std::endl;
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

#endif
