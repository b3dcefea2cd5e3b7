#pragma once

#include "errorreporter.h"

#include <libusb.h>

#include <chrono>
#include <functional>

// How long a flash may stay busy after a piece before the update gives up. A chip erase of the
// device's serial flash, which the first pieces of a run can trigger, takes well under a
// minute; anything past two minutes is a device that will not come back by itself, and
// polling on would leave the tool hanging with its window disabled.
inline constexpr std::chrono::milliseconds flashReadyTimeout {120000};

// What a flashing step works with: the update's open, claimed device and the two ways the
// step reports to the user (the update worker's progress and error signals).
struct FlashContext {
    libusb_device_handle *handle = nullptr;
    std::function<void(int percent)> progress;
    ErrorReporter error;
    // Tests shorten this to see a device that stays busy give up quickly.
    std::chrono::milliseconds readyTimeout = flashReadyTimeout;
};
