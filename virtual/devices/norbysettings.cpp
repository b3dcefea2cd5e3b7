#include "norbysettings.h"

namespace vdev {

std::optional<int> NorbySettings::handle(const ControlSetup &, uint8_t *)
{
    return std::nullopt;
}

} // namespace vdev
