#pragma once

#include <QtGlobal>

#include <cstddef>
#include <cstdint>

// The configuration blocks exactly as they cross the wire: packed, little-endian, copied byte
// for byte into and out of the request buffers.
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN,
    "the blocks are the device's little-endian layouts and are copied as they are");

// Bits of the flags byte (read with 0xE2, written with 0xE3). The firmware keeps other bits
// for itself; the host writes them as 0, whatever it read.
namespace DeviceFlags {
constexpr uint8_t KeepAspectRatio = 0x02; // black bars instead of stretching
constexpr uint8_t PerformanceMode = 0x04; // no Suspend/U3 state, faster resume
constexpr uint8_t AudioSelector = 0x10; // audio channel pick for multichannel inputs

// The byte to write for the three switches the host controls.
constexpr uint8_t fromSwitches(bool keepAspectRatio, bool performanceMode, bool audioSelector)
{
    return uint8_t((keepAspectRatio ? KeepAspectRatio : 0) | (performanceMode ? PerformanceMode : 0)
        | (audioSelector ? AudioSelector : 0));
}
} // namespace DeviceFlags

#pragma pack(push, 1)

// One of the three user video modes (request 0xB3, wIndex 0-2, both directions).
struct UserMode {
    uint16_t width;
    uint16_t height;
    uint8_t disabled; // 0: the mode is offered, non-zero: it is not
};

// What the device sees on its input (request 0xB2, read only). The texts are NUL-terminated
// only when shorter than their field.
struct InputStatusInfo {
    char description[12];
    char label[8];
    uint32_t refreshMilliHz; // vertical refresh in thousandths of a hertz
    uint16_t width;
    uint16_t height;
    uint8_t interlaced; // non-zero: interlaced
};

#pragma pack(pop)

static_assert(sizeof(UserMode) == 5, "UserMode is 5 bytes on the wire");
static_assert(offsetof(UserMode, width) == 0 && offsetof(UserMode, height) == 2
        && offsetof(UserMode, disabled) == 4,
    "UserMode field offsets");

static_assert(sizeof(InputStatusInfo) == 29, "InputStatusInfo is 29 bytes on the wire");
static_assert(offsetof(InputStatusInfo, description) == 0 && offsetof(InputStatusInfo, label) == 12
        && offsetof(InputStatusInfo, refreshMilliHz) == 20 && offsetof(InputStatusInfo, width) == 24
        && offsetof(InputStatusInfo, height) == 26 && offsetof(InputStatusInfo, interlaced) == 28,
    "InputStatusInfo field offsets");
