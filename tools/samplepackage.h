#pragma once

#include "packagezip.h"
#include "producttable.h"

#include <string>
#include <vector>

// What is wrong with a package on purpose, for the tests of the update's refusals.
enum class SampleDefect {
    None,
    MicrocodeUnaligned, // microcode size not a multiple of 4
    MissingSandbox,
    BadEdidChecksum, // products with an EDID only
    TruncatedBootImage, // the sandbox ends inside its first section
    FpgaDamaged, // a byte of the FPGA image's data changed behind the directory's back
    FpgaDeflateBroken, // the FPGA image's deflate stream broken at its first block
    FpgaShort, // the directory states an FPGA image 100 bytes longer than its data
    FpgaLong, // ... and 100 bytes shorter
    MicrocodeEmpty,
    FpgaEmpty,
    EdidTooLarge, // 33 blocks, more than one control transfer carries on Linux
};

// The command-line names of the defects, in the order of SampleDefect.
inline constexpr const char *defectNames[] = {"none", "microcode-unaligned", "missing-sandbox",
    "bad-edid-checksum", "truncated-boot-image", "fpga-damaged", "fpga-deflate-broken",
    "fpga-short", "fpga-long", "microcode-empty", "fpga-empty", "edid-too-large"};

// False for a name that is not in defectNames.
bool defectFromName(const std::string &name, SampleDefect &defect);
bool defectApplies(SampleDefect defect, const ProductInfo &product);

// The members of a package for `productId`, a row of productTable: "product.info" (but for
// the legacy product), the microcode, the FPGA image, the sandbox and the EDID text, with
// `defect` built in.
std::vector<PackageMember> samplePackageMembers(const std::string &productId, SampleDefect defect);

// Writes that package into `folder` as "<product>.fw", or "<product>-<defect>.fw" for a broken
// one. Returns 0 with the file's path in `path`, or -1 with the reason in `error`.
int writeSamplePackage(const std::string &folder, const std::string &productId, SampleDefect defect,
    std::string &path, std::string &error);
