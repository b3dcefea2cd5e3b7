#include "crc32.h"

#include <array>

namespace vdev {

namespace {

// The remainder of every byte value, worked out bit by bit at compile time: a byte at a time
// keeps the model's check of a 16 MiB image from outweighing the host's work it is there to
// check.
constexpr std::array<uint32_t, 256> byteTable()
{
    std::array<uint32_t, 256> table {};
    for (uint32_t value = 0; value < 256; ++value) {
        uint32_t crc = value;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        table[value] = crc;
    }
    return table;
}

constexpr std::array<uint32_t, 256> table = byteTable();

} // namespace

uint32_t crc32Update(uint32_t crc, const uint8_t *data, size_t length)
{
    crc = ~crc;
    for (size_t i = 0; i < length; ++i)
        crc = (crc >> 8) ^ table[(crc ^ data[i]) & 0xFFu];
    return ~crc;
}

} // namespace vdev
