#pragma once

#include <QByteArray>

#include <cstdint>
#include <vector>

namespace testsupport {

// The EDID text form of `bytes`, as the sample-package tool writes it: three header lines (the
// third one a column ruler with a vertical bar, as real files have), then one line per 16 bytes,
// "0000 | 00 FF ...", with a newline after every line. A short last line is written short.
QByteArray edidText(const std::vector<uint8_t> &bytes);

// Sets the last byte of every full 128-byte block so that the block sums to 0 modulo 256.
void sealEdidBlocks(std::vector<uint8_t> &bytes);

// `blocks` EDID blocks of made-up content (varied by `seed`), each with a correct checksum.
std::vector<uint8_t> makeEdid(int blocks, uint8_t seed = 0);

} // namespace testsupport
