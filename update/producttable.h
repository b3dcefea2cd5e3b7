#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

// A USB identity. Ordered by the 32-bit key vendor:product, so a set of them lists the
// identities in the order of their hexadecimal notation.
struct UsbId {
    uint16_t vendorId = 0;
    uint16_t productId = 0;

    uint32_t key() const { return (uint32_t(vendorId) << 16) | productId; }
    friend bool operator<(UsbId a, UsbId b) { return a.key() < b.key(); }
    friend bool operator==(UsbId a, UsbId b) { return a.key() == b.key(); }
    friend bool operator!=(UsbId a, UsbId b) { return !(a == b); }
};

using UsbIdSet = std::set<UsbId>;

// How an FPGA image is sent to the device.
enum FpgaFormat : uint32_t {
    FpgaFramed = 0, // header block, image, CRC trailer
    FpgaPlain = 1, // the image as stored
};

// What a firmware package holds for one product, and how that product shows up on USB.
struct ProductInfo {
    std::string fpgaImage;
    std::string microcodeImage; // written to the FX3's flash
    std::string sandboxImage; // FX3 boot image, loaded into RAM to repair a device
    std::string edidFile; // empty when the product takes no EDID
    uint32_t fpgaFormat = FpgaFramed;
    UsbIdSet deviceIds; // while the application firmware runs
    UsbIdSet sandboxIds; // while the sandbox microcode runs
};

// Product id as written in a package's "product.info" (compared byte for byte) to its row.
using ProductTable = std::map<std::string, ProductInfo>;

// Built during static initialisation and never changed afterwards, so every thread reads it
// without a lock.
extern const ProductTable productTable;

// The product a package without "product.info" is for.
inline constexpr char legacyProductId[] = "legacy";
