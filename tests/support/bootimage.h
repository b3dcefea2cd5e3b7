#pragma once

#include <QByteArray>
#include <QtEndian>

#include <cstdint>
#include <vector>

namespace testsupport {

// One section of an FX3 boot image: a load address and whole 32-bit words.
struct BootSection {
    uint32_t address = 0;
    QByteArray data;
};

inline void appendWord(QByteArray &bytes, uint32_t word) // little-endian
{
    const uint32_t le = qToLittleEndian(word);
    bytes.append(reinterpret_cast<const char *>(&le), 4);
}

// An FX3 boot image: "CY", the image control byte and the image type 0xB0, the sections, the
// terminating section with the entry point, and the sum of all data words plus `checksumError`.
inline QByteArray bootImage(const std::vector<BootSection> &sections, uint32_t entry,
    uint32_t checksumError = 0, uint8_t control = 0x1C)
{
    QByteArray image("CY");
    image.append(char(control)).append(char(0xB0));
    uint32_t sum = checksumError;
    for (const BootSection &section : sections) {
        appendWord(image, uint32_t(section.data.size() / 4));
        appendWord(image, section.address);
        image += section.data;
        for (int at = 0; at + 4 <= section.data.size(); at += 4)
            sum += qFromLittleEndian<uint32_t>(section.data.constData() + at);
    }
    appendWord(image, 0);
    appendWord(image, entry);
    appendWord(image, sum);
    return image;
}

} // namespace testsupport
