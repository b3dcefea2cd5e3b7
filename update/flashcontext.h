#pragma once

#include "controlrequest.h"
#include "debuglog.h"
#include "errorreporter.h"

#include <QDebug>
#include <QString>
#include <libusb.h>

#include <chrono>
#include <cstdint>
#include <functional>

// How long a flash may stay busy after a piece before the update gives up. A chip erase of the
// device's serial flash, which the first pieces of a run can trigger, takes well under a
// minute; anything past two minutes is a device that will not come back by itself, and
// polling on would leave the tool hanging with its window disabled.
inline constexpr std::chrono::milliseconds flashReadyTimeout {120000};

// What a flashing step works with: the update's open, claimed device and the two ways the
// step reports to the user (the update worker's progress and error signals). Both reporters
// must be set.
struct FlashContext {
    libusb_device_handle *handle = nullptr;
    std::function<void(int percent)> progress;
    ErrorReporter error;
    // Tests shorten this to see a device that stays busy give up quickly.
    std::chrono::milliseconds readyTimeout = flashReadyTimeout;

    // The same context for the requests that close a run after one of its requests failed
    // and was reported: the user hears of the first failure only, the rest go to the log.
    FlashContext afterFailure() const
    {
        FlashContext quiet = *this;
        quiet.error = [](const QString &text) {
            qCDebug(defaultLog).noquote() << "after an earlier failure:" << text;
        };
        return quiet;
    }
};

// The vendor requests of the flashing protocols, all on the default control endpoint with
// wValue and wIndex 0.
namespace FlashRequest {
enum : uint8_t {
    FpgaFlashStart = 0xC1,
    FpgaFlashWrite = 0xC2, // the header, an image chunk or the CRC trailer
    FpgaFlashComplete = 0xC3,
    FpgaFlashStatus = 0xC4, // one byte in: 0 busy, anything else ready
    Fx3FlashStart = 0xC5,
    Fx3FlashWrite = 0xC6, // a microcode chunk of whole 32-bit words
    Fx3FlashComplete = 0xC7,
    Fx3FlashStatus = 0xC8, // as 0xC4, for the microcode flash
    EdidIoBegin = 0xCF,
    EdidWrite = 0xD2, // the whole EDID in one request
    EdidIoEnd = 0xD4,
};
} // namespace FlashRequest

// Sends one host-to-device request of the flashing protocols; the transfer's result.
inline int sendFlashRequest(const FlashContext &context, uint8_t request, uint8_t *data = nullptr,
    uint16_t length = 0, unsigned timeoutMs = ControlRequest::TimeoutMs)
{
    return libusb_control_transfer(
        context.handle, ControlRequest::VendorOut, request, 0, 0, data, length, timeoutMs);
}

// The largest piece the device's flash buffer takes in one request.
inline constexpr uint16_t flashChunkSize = 4096;

// The percentage reached in the range `start`..`end` once `done` of `total` bytes went to the
// device. An empty member has nothing left to send, and a member that turns out longer than
// the archive said must not take the bar past its range.
inline int flashProgress(int start, int end, uint64_t done, uint64_t total)
{
    if (total == 0 || done >= total)
        return end;
    // Unsigned throughout, and scaled down before the product could overflow: a (zip64) size
    // beyond 2^63 must neither turn the quotient negative nor wrap it.
    const uint64_t span = end > start ? uint64_t(int64_t(end) - start) : 0;
    while (span != 0 && done > UINT64_MAX / span) {
        done >>= 1;
        total >>= 1;
    }
    return start + int(span * done / total);
}
