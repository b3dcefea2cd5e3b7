#include "samplepackage.h"

#include "captureedid.h"
#include "edidtextwriter.h"
#include "productidentify.h"
#include "sampleimages.h"

#include <algorithm>
#include <cctype>
#include <iterator>

namespace {

// The name the device shows its sources: the FPGA image's, "kestrel3_4k.bin" giving
// "KESTREL3 4K", so the legacy product, a KESTREL3, is named as one.
std::string monitorName(const ProductInfo &product)
{
    std::string name = product.fpgaImage.substr(0, product.fpgaImage.find('.'));
    std::transform(name.begin(), name.end(), name.begin(),
        [](char c) { return c == '_' ? ' ' : char(std::toupper(uint8_t(c))); });
    return name;
}

} // namespace

bool defectFromName(const std::string &name, SampleDefect &defect)
{
    const auto found = std::find(std::begin(defectNames), std::end(defectNames), name);
    if (found == std::end(defectNames))
        return false;
    defect = SampleDefect(found - std::begin(defectNames));
    return true;
}

bool defectApplies(SampleDefect defect, const ProductInfo &product)
{
    return (defect != SampleDefect::BadEdidChecksum && defect != SampleDefect::EdidTooLarge)
        || !product.edidFile.empty();
}

std::vector<PackageMember> samplePackageMembers(const std::string &productId, SampleDefect defect)
{
    const ProductInfo &product = productTable.at(productId);
    std::vector<PackageMember> members;
    if (productId != legacyProductId) {
        // The reader takes the first line, without its line feed.
        const std::string info = productId + "\n";
        members.push_back({productInfoMember, Bytes(info.begin(), info.end())});
    }
    Bytes microcode = sampleMicrocode(productId);
    if (defect == SampleDefect::MicrocodeUnaligned)
        microcode.resize(microcode.size() + 2); // half a word past the end
    if (defect == SampleDefect::MicrocodeEmpty)
        microcode.clear();
    members.push_back({product.microcodeImage, microcode});
    members.push_back({product.fpgaImage,
        defect == SampleDefect::FpgaEmpty ? Bytes() : sampleFpgaImage(productId)});
    Bytes boot = sampleBootImage(productId);
    if (defect == SampleDefect::TruncatedBootImage)
        boot.resize(boot.size() / 2);
    if (defect != SampleDefect::MissingSandbox)
        members.push_back({product.sandboxImage, boot});
    if (!product.edidFile.empty()) {
        const std::string name = monitorName(product);
        Bytes edid = captureEdid(name, product.deviceIds.begin()->productId);
        if (defect == SampleDefect::BadEdidChecksum)
            ++edid[127]; // the base block no longer sums to 0
        // Extension blocks of the base block's kind, each summing to 0 as the parser checks.
        while (defect == SampleDefect::EdidTooLarge && edid.size() < 33 * 128) {
            const Bytes base(edid.begin(), edid.begin() + 128);
            edid.insert(edid.end(), base.begin(), base.end());
        }
        const std::string text = edidText(edid, name);
        members.push_back({product.edidFile, Bytes(text.begin(), text.end())});
    }
    return members;
}

int writeSamplePackage(const std::string &folder, const std::string &productId, SampleDefect defect,
    std::string &path, std::string &error)
{
    const auto row = productTable.find(productId);
    if (row == productTable.end() || !defectApplies(defect, row->second)) {
        error = row == productTable.end() ? "unknown product: " + productId
                                          : productId + " has no EDID to break";
        return -1;
    }
    path = folder + "/" + productId;
    if (defect != SampleDefect::None)
        path += std::string("-") + defectNames[int(defect)];
    path += ".fw";
    if (writeZip(path, samplePackageMembers(productId, defect), error) < 0)
        return -1;
    const std::pair<SampleDefect, const char *> damages[]
        = {{SampleDefect::FpgaDamaged, "crc"}, {SampleDefect::FpgaDeflateBroken, "deflate"},
            {SampleDefect::FpgaShort, "short"}, {SampleDefect::FpgaLong, "long"}};
    for (const auto &[kind, how] : damages) {
        if (defect == kind && damageZipMember(path, row->second.fpgaImage, how) < 0) {
            error = path + ": cannot damage " + row->second.fpgaImage;
            return -1;
        }
    }
    return 0;
}
