#include "edidtext.h"

#include "edidtextwriter.h"

namespace testsupport {

namespace {

constexpr std::size_t blockSize = 128;

} // namespace

QByteArray edidText(const std::vector<uint8_t> &bytes)
{
    return QByteArray::fromStdString(::edidText(bytes, "image"));
}

void sealEdidBlocks(std::vector<uint8_t> &bytes)
{
    for (std::size_t block = 0; block + blockSize <= bytes.size(); block += blockSize) {
        uint8_t sum = 0;
        for (std::size_t i = block; i < block + blockSize - 1; ++i)
            sum = uint8_t(sum + bytes[i]);
        bytes[block + blockSize - 1] = uint8_t(0x100 - sum);
    }
}

std::vector<uint8_t> makeEdid(int blocks, uint8_t seed)
{
    std::vector<uint8_t> bytes(std::size_t(blocks) * blockSize);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i * 7 + seed);
    sealEdidBlocks(bytes);
    return bytes;
}

} // namespace testsupport
