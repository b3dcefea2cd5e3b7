#pragma once

#include <QByteArray>

#include <cstdint>
#include <vector>

namespace testsupport {

// One section of an FX3 boot image: a load address and whole 32-bit words.
struct BootSection {
    uint32_t address = 0;
    QByteArray data;
};

void appendWord(QByteArray &bytes, uint32_t word); // little-endian

// An FX3 boot image: "CY", the image control byte and the image type 0xB0, the sections, the
// terminating section with the entry point, and the sum of all data words plus `checksumError`.
QByteArray bootImage(const std::vector<BootSection> &sections, uint32_t entry,
    uint32_t checksumError = 0, uint8_t control = 0x1C);

} // namespace testsupport
