#pragma once

#include "edidtextwriter.h"

#include <QByteArray>

#include <cstdint>
#include <vector>

namespace testsupport {

// The EDID text form of `bytes`, as the sample-package tool writes it: three header lines (the
// third one a column ruler with a vertical bar, as real files have), then one line per 16 bytes,
// "0000 | 00 FF ...", with a newline after every line. A short last line is written short.
inline QByteArray edidText(const std::vector<uint8_t> &bytes)
{
    return QByteArray::fromStdString(::edidText(bytes, "image"));
}

// Sets the last byte of every full 128-byte block so that the block sums to 0 modulo 256.
inline void sealEdidBlocks(std::vector<uint8_t> &bytes)
{
    for (std::size_t block = 0; block + 128 <= bytes.size(); block += 128) {
        uint8_t sum = 0;
        for (std::size_t i = block; i < block + 127; ++i)
            sum = uint8_t(sum + bytes[i]);
        bytes[block + 127] = uint8_t(0x100 - sum);
    }
}

// `blocks` EDID blocks of made-up content (varied by `seed`), each with a correct checksum.
inline std::vector<uint8_t> makeEdid(int blocks, uint8_t seed = 0)
{
    std::vector<uint8_t> bytes(std::size_t(blocks) * 128);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i * 7 + seed);
    sealEdidBlocks(bytes);
    return bytes;
}

} // namespace testsupport
