#include "norbybootloader.h"

namespace vdev {

std::optional<int> NorbyBootLoader::handle(const ControlSetup &, uint8_t *)
{
    return std::nullopt;
}

std::optional<uint32_t> NorbyBootLoader::takeStart()
{
    std::optional<uint32_t> start;
    start.swap(start_);
    return start;
}

} // namespace vdev
