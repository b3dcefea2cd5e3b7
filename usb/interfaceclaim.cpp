#include "interfaceclaim.h"

#include <chrono>
#include <thread>

namespace {

constexpr int busyAttempts = 5;
constexpr std::chrono::milliseconds busyPause {50};

} // namespace

int claimInterfaceWhenFree(libusb_device_handle *handle, int interface)
{
    int claimed = libusb_claim_interface(handle, interface);
    for (int attempt = 1; claimed == LIBUSB_ERROR_BUSY && attempt < busyAttempts; ++attempt) {
        std::this_thread::sleep_for(busyPause);
        claimed = libusb_claim_interface(handle, interface);
    }
    return claimed;
}
