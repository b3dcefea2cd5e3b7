#pragma once

#include <libusb.h>

// libusb's default context for the whole of main(): it lives longer than everything Qt, as the
// worker threads that use it are stopped by the destruction of the objects that own them,
// which ends before the guard's.
class LibusbGuard
{
public:
    LibusbGuard()
    {
        // A failed start is not fatal here: the first scan finds nothing and says so.
        libusb_init(nullptr);
        libusb_set_option(nullptr, LIBUSB_OPTION_LOG_LEVEL, LIBUSB_LOG_LEVEL_WARNING);
    }
    ~LibusbGuard() { libusb_exit(nullptr); }
    LibusbGuard(const LibusbGuard &) = delete;
    LibusbGuard &operator=(const LibusbGuard &) = delete;
};
