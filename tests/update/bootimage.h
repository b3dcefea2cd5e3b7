#pragma once

#include <QByteArray>
#include <QtEndian>

#include <cstdint>
#include <vector>

namespace testsupport {

struct BootSection {
    uint32_t address = 0;
    QByteArray data; // whole 32-bit words
};

inline void appendWord(QByteArray &bytes, uint32_t word)
{
    const uint32_t le = qToLittleEndian(word);
    bytes.append(reinterpret_cast<const char *>(&le), 4);
}

// An FX3 boot image: "CY", image control and type, the sections, the terminating section with
// the entry point, and the sum of all data words plus `checksumError`.
inline QByteArray bootImage(
    const std::vector<BootSection> &sections, uint32_t entry, uint32_t checksumError = 0)
{
    QByteArray image("CY\x1c\xb0", 4);
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

// Bytes that differ from chunk to chunk, so a misplaced chunk shows.
inline QByteArray patternBytes(int size, int seed = 0)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 31 + i / 4096 + seed) & 0xFF);
    return bytes;
}

} // namespace testsupport
