#include "hubmodel.h"

namespace vdev {

namespace {
constexpr uint8_t kHubClass = 0x09;
}

HubModel::HubModel(Identity identity)
    : identity_(identity)
{
}

Identity HubModel::rootHubIdentity()
{
    Identity id;
    id.vendorId = 0x1D6B;
    id.productId = 0x0003;
    id.deviceClass = kHubClass;
    return id;
}

Identity HubModel::externalHubIdentity()
{
    Identity id;
    id.vendorId = 0x0E0F;
    id.productId = 0x0002;
    id.deviceClass = kHubClass;
    return id;
}

std::optional<std::string> HubModel::stringDescriptor(uint8_t) const
{
    return std::nullopt;
}

int HubModel::control(const ControlSetup &, uint8_t *)
{
    return Pipe;
}

} // namespace vdev
