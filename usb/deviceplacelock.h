#pragma once

// An advisory lock per device place (bus number and port path), shared by every process and
// thread of this program: the update holds it for its whole run, a settings request or a
// probe for its few transfers. Where a kernel driver keeps the capture interface, nothing else
// keeps two of them apart. No Qt here: the Windows build compiles this without it, and there
// the lock is a no-op that is always taken.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// Who holds a place, as the holder wrote it: "<pid> <program> <purpose>".
struct PlaceHolder {
    bool known = false; // false: nothing readable (an older holder, or one still writing)
    long pid = 0;
    std::string program;
    std::string purpose;
};

class DevicePlaceLock
{
public:
    // What a holder writes as its purpose; an update's hold ends every wait at once.
    static constexpr const char *Update = "firmware update";
    static constexpr const char *Request = "settings request";
    static constexpr const char *Probe = "device scan";

    enum class Outcome {
        Taken,
        Busy, // holder() says by whom, when known
        Unlocked, // no usable folder: the caller goes on without the lock
    };

    DevicePlaceLock() = default;
    DevicePlaceLock(const DevicePlaceLock &) = delete;
    DevicePlaceLock &operator=(const DevicePlaceLock &) = delete;
    ~DevicePlaceLock();

    // Tries to take the place for `purpose`, polling until `wait` is over; a holder whose
    // purpose is Update ends the wait at once.
    Outcome acquire(const std::string &place, const char *purpose, std::chrono::milliseconds wait);
    // Gives the place back (nothing when not held).
    void release();
    const PlaceHolder &holder() const { return holder_; }

    // "2-1.4": the bus number and the ports from the root hub down, as Linux names the place.
    static std::string placeName(uint8_t busNumber, const std::vector<uint8_t> &portPath);

private:
    int fd_ = -1;
    PlaceHolder holder_;
};
