#include "devicefilter.h"

namespace {

bool isRepairFamilyId(uint16_t productId)
{
    const uint16_t digit = productId & 0x000F;
    return digit == 0x0 || digit == 0xF;
}

} // namespace

bool deviceFilterAdmits(const DeviceFilter &filter, const DeviceDescription &desc)
{
    if (filter.pid != 0 && filter.pid != desc.productId) {
        const bool sameFamily = (desc.productId & 0xFFF0) == (filter.pid & 0xFFF0);
        if (!sameFamily || !isRepairFamilyId(desc.productId))
            return false;
    }
    if (filter.vid != 0 && filter.vid != desc.vendorId)
        return false;
    if (filter.serial.isEmpty() || isRepairFamilyId(desc.productId))
        return true;
    return desc.serial == filter.serial;
}
