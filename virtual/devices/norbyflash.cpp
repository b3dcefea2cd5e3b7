#include "norbyflash.h"

namespace vdev {

namespace {
constexpr uint8_t kFx3FlashStatus = 0xC8;
constexpr uint8_t kReady = 1;
} // namespace

std::optional<int> NorbyFlash::handle(const ControlSetup &setup, uint8_t *data)
{
    if (setup.request == kFx3FlashStatus && setup.deviceToHost()) {
        if (setup.length == 0)
            return 0;
        data[0] = kReady;
        return 1;
    }
    return std::nullopt;
}

} // namespace vdev
