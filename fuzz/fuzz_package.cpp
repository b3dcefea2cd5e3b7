#include "edidupload.h"
#include "fx3bootimage.h"
#include "packagecheck.h"
#include "packagepreflight.h"
#include "productidentify.h"
#include "producttable.h"
#include "quietlogs.h"
#include "ziparchive.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

// The images are streamed to the device, never held; past this much the input is a
// decompression bomb, which would only spend the fuzzer's time without reaching new code.
constexpr uint64_t streamLimit = uint64_t(64) << 20;

void streamThrough(ZipArchive &archive, const std::string &member)
{
    if (member.empty())
        return;
    ZipFile file = archive.openFile(member);
    std::array<uint8_t, 4096> piece;
    uint64_t total = 0;
    int64_t count;
    while (total < streamLimit && (count = file.read(piece.data(), piece.size())) > 0)
        total += uint64_t(count);
}

} // namespace

// A firmware package as the update reads it before and while it flashes: the product it names,
// the members that product needs and their checks before the first request, the EDID text and
// the sandbox boot image parsed, and the images read through. Every member of every product is
// read, so a package for one product still reaches the readers of all.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    quietLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    ZipArchive archive = ZipArchive::fromMemory(data, size);
    if (!archive.isOpen())
        return 0;
    const ErrorReporter ignore = [](const QString &) {};

    ProductMatch match;
    PackageMembers members;
    if (identifyProduct(archive, match, ignore) == 0
        && checkPackageMembers(archive, *match.info, members, ignore) == 0) {
        // As for a repair, which checks the sandbox too.
        PreparedPackage prepared;
        preflightPackage(archive, *match.info, members, true, prepared, ignore);
    }
    for (const auto &entry : productTable) {
        const ProductInfo &product = entry.second;
        Fx3BootImage boot;
        readFx3BootImage(archive, product.sandboxImage, boot, ignore);
        if (!product.edidFile.empty()) {
            std::vector<uint8_t> edid;
            readEdidImage(ignore, product.edidFile, archive, edid);
        }
        streamThrough(archive, product.fpgaImage);
        streamThrough(archive, product.microcodeImage);
    }
    return 0;
}
