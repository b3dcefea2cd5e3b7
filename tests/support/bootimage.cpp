#include "bootimage.h"

#include <QtEndian>

namespace testsupport {

void appendWord(QByteArray &bytes, uint32_t word)
{
    const uint32_t le = qToLittleEndian(word);
    bytes.append(reinterpret_cast<const char *>(&le), 4);
}

QByteArray bootImage(const std::vector<BootSection> &sections, uint32_t entry,
    uint32_t checksumError, uint8_t control)
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
