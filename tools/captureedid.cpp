#include "captureedid.h"

#include <algorithm>
#include <initializer_list>

namespace {

constexpr std::size_t blockSize = 128;
constexpr std::size_t nameLength = 13;

// Detailed timings, CEA values: pixel clock in 10 kHz, active and blanking pixels and lines,
// sync offsets and widths, an image of 600 x 340 mm, digital separate sync, both polarities +.
constexpr std::initializer_list<uint8_t> timing1080p60 = {0x02, 0x3A, 0x80, 0x18, 0x71, 0x38, 0x2D,
    0x40, 0x58, 0x2C, 0x45, 0x00, 0x58, 0x54, 0x21, 0x00, 0x00, 0x1E};
constexpr std::initializer_list<uint8_t> timing720p60 = {0x01, 0x1D, 0x00, 0x72, 0x51, 0xD0, 0x1E,
    0x20, 0x6E, 0x28, 0x55, 0x00, 0x58, 0x54, 0x21, 0x00, 0x00, 0x1E};

void put(std::vector<uint8_t> &edid, std::size_t at, std::initializer_list<uint8_t> bytes)
{
    std::copy(bytes.begin(), bytes.end(), edid.begin() + long(at));
}

// The last byte makes the block sum to 0 modulo 256.
void seal(std::vector<uint8_t> &edid, std::size_t block)
{
    uint8_t sum = 0;
    for (std::size_t i = block * blockSize; i < (block + 1) * blockSize - 1; ++i)
        sum = uint8_t(sum + edid[i]);
    edid[(block + 1) * blockSize - 1] = uint8_t(0x100 - sum);
}

} // namespace

std::vector<uint8_t> captureEdid(const std::string &monitorName, uint16_t productCode)
{
    std::vector<uint8_t> edid(2 * blockSize);
    // Three 5-bit letters, 'A' = 1, big-endian.
    const uint16_t maker = uint16_t(('L' - '@') << 10 | ('M' - '@') << 5 | ('X' - '@'));
    put(edid, 0,
        {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, uint8_t(maker >> 8), uint8_t(maker),
            uint8_t(productCode), uint8_t(productCode >> 8), 1, 0, 0, 0, // serial 1
            1, 2024 - 1990, 1, 3, // week, year, EDID 1.3
            0x80, 60, 34, 0x78, 0x0A}); // digital, 60 x 34 cm, gamma 2.2, RGB, native preferred
    put(edid, 25, {0xEE, 0x91, 0xA3, 0x54, 0x4C, 0x99, 0x26, 0x0F, 0x50, 0x54}); // sRGB
    put(edid, 35, {0x21, 0x08, 0x00}); // 640x480, 800x600, 1024x768 at 60 Hz
    // Standard timings 1920x1080 and 1280x720 at 60 Hz; 0x01 0x01 marks the unused six.
    put(edid, 38, {0xD1, 0xC0, 0x81, 0xC0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1});
    put(edid, 54, timing1080p60);
    // Range limits: 24-75 Hz, 15-80 kHz, 150 MHz, no timing formula.
    put(edid, 72,
        {0, 0, 0, 0xFD, 0, 24, 75, 15, 80, 15, 0, 0x0A, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20});
    put(edid, 90, {0, 0, 0, 0xFC, 0});
    const std::string name = monitorName.substr(0, nameLength);
    std::copy(name.begin(), name.end(), edid.begin() + 95);
    if (name.size() < nameLength) { // a line feed ends a short name, spaces pad it
        edid[95 + name.size()] = 0x0A;
        std::fill(edid.begin() + 96 + long(name.size()), edid.begin() + 108, 0x20);
    }
    put(edid, 108, {0, 0, 0, 0x10, 0}); // the fourth descriptor is unused
    edid[126] = 1; // one extension block
    seal(edid, 0);

    const std::initializer_list<uint8_t> dataBlocks
        = {0x44, 0x90, 0x04, 0x1F, 0x13, // video: 1080p60 (native), 720p60, 1080p50, 720p50
            0x23, 0x09, 0x07, 0x07, // audio: LPCM 2 channels, 32/44.1/48 kHz, 16/20/24 bits
            0x83, 0x01, 0x00, 0x00}; // speakers: front left and right
    const uint8_t timingsOffset = uint8_t(4 + dataBlocks.size());
    put(edid, blockSize, {0x02, 0x03, timingsOffset, 0x41}); // basic audio, one native timing
    put(edid, blockSize + 4, dataBlocks);
    put(edid, blockSize + timingsOffset, timing720p60);
    seal(edid, 1);
    return edid;
}
