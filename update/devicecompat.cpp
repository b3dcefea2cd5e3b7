#include "devicecompat.h"

#include <QCoreApplication>

namespace {

// Product ids end in 0 in the soft-repair state and in F while the sandbox microcode runs; in
// both, the id says nothing about the product behind it beyond the vendor.
bool isRepairFamilyId(uint16_t productId)
{
    const uint16_t state = productId & 0xF;
    return state == 0x0 || state == 0xF;
}

} // namespace

bool isDeviceCompatible(
    const ProductInfo &product, const DeviceDescription &desc, const ErrorReporter &report)
{
    for (const UsbId &id : product.deviceIds) {
        if (id.vendorId == desc.vendorId
            && (id.productId == desc.productId || isRepairFamilyId(desc.productId)))
            return true;
    }
    // The bare FX3 boot loader (0x04B4:0x00F3) does not tell which product it belongs to.
    if (desc.mode == HardRepair)
        return true;
    if (report)
        report(QCoreApplication::translate("Worker", "Selected device and firmware incompatible"));
    return false;
}
