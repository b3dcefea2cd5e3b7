#pragma once

#include "usbmodel.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace vdev {

// The configuration blocks of the application firmware: flags byte (0xE2 read, 0xE3 write),
// three user modes (0xB3, wIndex 0-2) and the input status (0xB2, read only). Blocks are kept
// as raw wire bytes so tests compare exactly what crossed the bus.
class NorbySettings
{
public:
    static constexpr uint8_t GetFlags = 0xE2;
    static constexpr uint8_t SetFlags = 0xE3;
    static constexpr uint8_t GetInputStatus = 0xB2;
    static constexpr uint8_t UserModeRequest = 0xB3;

    static constexpr size_t UserModeSize = 5;
    static constexpr size_t UserModeCount = 3;
    static constexpr size_t InputStatusSize = 29;

    using UserModeBlock = std::array<uint8_t, UserModeSize>;
    using InputStatusBlock = std::array<uint8_t, InputStatusSize>;

    // The answer to a settings request, or nothing when `setup` is not one.
    std::optional<int> handle(const ControlSetup &setup, uint8_t *data);

    uint8_t flags() const { return flags_; }
    void setFlags(uint8_t flags) { flags_ = flags; }
    // `index` must be below UserModeCount.
    const UserModeBlock &userMode(size_t index) const { return userModes_.at(index); }
    void setUserMode(size_t index, const UserModeBlock &block) { userModes_.at(index) = block; }
    const InputStatusBlock &inputStatus() const { return inputStatus_; }
    void setInputStatus(const InputStatusBlock &block) { inputStatus_ = block; }

    // Every settings request takes this long before it is answered, like a device that is
    // busy with its video pipeline. The bus stays locked meanwhile, as a real control pipe
    // stays occupied.
    void setAnswerDelay(std::chrono::milliseconds delay) { answerDelay_ = delay; }

private:
    int read(const uint8_t *block, size_t size, uint16_t length, uint8_t *data) const;
    int write(uint8_t *block, size_t size, uint16_t length, const uint8_t *data);

    uint8_t flags_ = 0;
    std::array<UserModeBlock, UserModeCount> userModes_ {};
    InputStatusBlock inputStatus_ {};
    std::chrono::milliseconds answerDelay_ {0};
};

} // namespace vdev
