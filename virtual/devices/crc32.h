#pragma once

#include <cstddef>
#include <cstdint>

namespace vdev {

// CRC-32 as IEEE 802.3 defines it (reflected, polynomial 0xEDB88320, initial and final
// inversion), written out here so that the device model checks the host's framing with an
// implementation of its own rather than with the library the host uses.
uint32_t crc32Update(uint32_t crc, const uint8_t *data, size_t length);

} // namespace vdev
