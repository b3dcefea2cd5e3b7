#pragma once

#include "usbmodel.h"

#include <cstdint>
#include <optional>

namespace vdev {

// The FX3 boot loader protocol, answered in the soft-repair state and by the bare ROM boot
// loader: RAM write and read-back with 0xA0 (address in wValue/wIndex) and the zero-length
// write that starts the loaded program.
class NorbyBootLoader
{
public:
    // The answer to a boot loader request, or nothing when `setup` is not one.
    std::optional<int> handle(const ControlSetup &setup, uint8_t *data);

    // The entry point of a start request received since the last call, if any: the device
    // then leaves the bus and comes back running the loaded program.
    std::optional<uint32_t> takeStart();

private:
    std::optional<uint32_t> start_;
};

} // namespace vdev
