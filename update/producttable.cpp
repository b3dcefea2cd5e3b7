#include "producttable.h"

namespace {

constexpr uint16_t lumexorVendorId = 0x2B77;
// KESTREL3 also enumerates as 0x5555:0x3601.
constexpr uint16_t altKestrelVendorId = 0x5555;

// The application firmware enumerates with a product id ending in hex digit 1, the sandbox
// microcode with the same id ending in F.
ProductTable buildProductTable()
{
    const UsbIdSet kestrelIds {{lumexorVendorId, 0x3601}, {altKestrelVendorId, 0x3601}};
    const UsbIdSet kestrelSandboxIds {{lumexorVendorId, 0x360F}};

    ProductTable table;
    // A package without "product.info" is a KESTREL3 package whose microcode and sandbox
    // members carry names of their own.
    table[legacyProductId] = {
        "kestrel3.bin",
        "LumexorDriverlessGrabber.img",
        "usb-sandbox.img",
        "edid_kestrel3_uvc.edid",
        FpgaFramed,
        kestrelIds,
        kestrelSandboxIds,
    };
    table["kestrel3"] = {
        "kestrel3.bin",
        "kestrel3.img",
        "kestrel3-sandbox.img",
        "edid_kestrel3_uvc.edid",
        FpgaFramed,
        kestrelIds,
        kestrelSandboxIds,
    };
    table["ospreyx3"] = {
        "ospreyx3.bin",
        "ospreyx3.img",
        "ospreyx3-sandbox.img",
        "",
        FpgaFramed,
        {{lumexorVendorId, 0x3621}},
        {{lumexorVendorId, 0x362F}},
    };
    table["kestrel3_4k"] = {
        "kestrel3_4k.bin",
        "kestrel3_4k.img",
        "kestrel3_4k-sandbox.img",
        "edid_kestrel3_4k_uvc.edid",
        FpgaPlain,
        {{lumexorVendorId, 0x3631}, {lumexorVendorId, 0x3641}},
        {{lumexorVendorId, 0x363F}, {lumexorVendorId, 0x364F}},
    };
    table["harrier3"] = {
        "harrier3.bin",
        "harrier3.img",
        "harrier3-sandbox.img",
        "edid_harrier3_uvc.edid",
        FpgaFramed,
        {{lumexorVendorId, 0x3661}},
        {{lumexorVendorId, 0x366F}},
    };
    return table;
}

} // namespace

const ProductTable productTable = buildProductTable();
