#pragma once

#include "usbmodel.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace vdev {

// The flashing side of the device, answered by the application firmware and by the sandbox
// microcode: the FX3 microcode run (0xC5 start, 0xC6 chunk, 0xC7 complete, 0xC8 status), the
// FPGA run (0xC1, 0xC2, 0xC3, status 0xC4) and the EDID access (0xCF, 0xD2, 0xD4). The 0xC8
// status doubles as the liveness ping of every running device.
class NorbyFlash
{
public:
    // The answer to a flashing request, or nothing when `setup` is not one.
    std::optional<int> handle(const ControlSetup &setup, uint8_t *data);
};

} // namespace vdev
