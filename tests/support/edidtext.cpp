#include "edidtext.h"

#include <cstdio>

namespace testsupport {

namespace {

constexpr std::size_t blockSize = 128;
constexpr std::size_t bytesPerLine = 16;

} // namespace

QByteArray edidText(const std::vector<uint8_t> &bytes)
{
    QByteArray text = "EDID image, " + QByteArray::number(qulonglong(bytes.size())) + " bytes\n";
    text += "written by the test fixtures\n";
    text += "offset | 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n";
    char cell[24];
    for (std::size_t offset = 0; offset < bytes.size(); offset += bytesPerLine) {
        std::snprintf(cell, sizeof cell, "%04zX |", offset);
        text += cell;
        for (std::size_t i = offset; i < offset + bytesPerLine && i < bytes.size(); ++i) {
            std::snprintf(cell, sizeof cell, " %02X", unsigned(bytes[i]));
            text += cell;
        }
        text += '\n';
    }
    return text;
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
