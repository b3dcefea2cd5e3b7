#pragma once

#include <QByteArray>

#include <cstdint>
#include <vector>

namespace testsupport {

// Bytes that differ from chunk to chunk (of 4096 bytes, say) and with `seed`, so a misplaced
// or mixed-up chunk shows.
inline QByteArray patternBytes(int size, int seed = 0)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i * 31 + i / 251 + seed);
    return bytes;
}

inline QByteArray bytesOf(const std::vector<uint8_t> &v)
{
    return QByteArray(reinterpret_cast<const char *>(v.data()), int(v.size()));
}

} // namespace testsupport
