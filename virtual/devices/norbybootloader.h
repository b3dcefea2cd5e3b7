#pragma once

#include "usbmodel.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace vdev {

// The FX3 boot loader protocol, answered in the soft-repair state and by the bare ROM boot
// loader: RAM write and read-back with 0xA0 (address bits 0-15 in wValue, 16-31 in wIndex)
// and the zero-length write that starts the loaded program at its address.
class NorbyBootLoader
{
public:
    // The answer to a boot loader request, or nothing when `setup` is not one.
    std::optional<int> handle(const ControlSetup &setup, uint8_t *data);

    // The entry point of a start request received since the last call, if any: the device
    // then leaves the bus and comes back running the loaded program.
    std::optional<uint32_t> takeStart();

    // RAM contents (unwritten bytes read as 0).
    std::vector<uint8_t> ram(uint32_t address, size_t length) const;
    // Bytes written so far, over all RAM writes.
    size_t bytesWritten() const { return bytesWritten_; }
    // Entry point of the last start request, if one came.
    std::optional<uint32_t> lastStart() const { return lastStart_; }
    // A RAM cell that reads back wrong from now on, as a failing RAM would.
    void corruptReadBackAt(uint32_t address) { corrupt_ = address; }

private:
    static constexpr uint32_t kPage = 4096;
    using Page = std::array<uint8_t, kPage>;

    uint8_t read(uint32_t address) const;

    std::map<uint32_t, Page> pages_;
    size_t bytesWritten_ = 0;
    std::optional<uint32_t> start_;
    std::optional<uint32_t> lastStart_;
    std::optional<uint32_t> corrupt_;
};

} // namespace vdev
