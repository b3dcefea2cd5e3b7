#pragma once

#include "usbmodel.h"

#include <array>
#include <cstdint>
#include <optional>

namespace vdev {

// The configuration blocks of the application firmware: flags byte (0xE2 read, 0xE3 write),
// three user modes (0xB3, wIndex 0-2) and the input status (0xB2, read only). Blocks are kept
// as raw wire bytes so tests compare exactly what crossed the bus.
class NorbySettings
{
public:
    // The answer to a settings request, or nothing when `setup` is not one.
    std::optional<int> handle(const ControlSetup &setup, uint8_t *data);
};

} // namespace vdev
