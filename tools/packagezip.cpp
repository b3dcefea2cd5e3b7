#include "packagezip.h"

#include <zip.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>

namespace {

constexpr time_t memberTime = 1704067200; // 2024-01-01

using ArchiveHandle = std::unique_ptr<zip_t, decltype(&zip_discard)>;
using SourceHandle = std::unique_ptr<zip_source_t, decltype(&zip_source_free)>;

uint32_t readLe(const std::vector<char> &bytes, std::size_t at, int width)
{
    uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = value << 8 | uint8_t(bytes.at(at + std::size_t(i)));
    return value;
}

void writeLe32(std::vector<char> &bytes, std::size_t at, uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i)
        bytes.at(at + i) = char(value >> (8 * i));
}

} // namespace

int writeZip(const std::string &path, const std::vector<PackageMember> &members, std::string &error)
{
    int code = 0;
    // Discarded unless zip_close wrote it, so a failure leaves no half-written package.
    ArchiveHandle archive(zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code), &zip_discard);
    if (!archive) {
        zip_error_t reason;
        zip_error_init_with_code(&reason, code);
        error = path + ": " + zip_error_strerror(&reason);
        zip_error_fini(&reason);
        return -1;
    }
    const auto fail = [&](const std::string &what) {
        error = what + ": " + zip_error_strerror(zip_get_error(archive.get()));
        return -1;
    };
    for (const PackageMember &member : members) {
        // libzip reads the bytes only at zip_close; `members` outlives that.
        SourceHandle source(
            zip_source_buffer(archive.get(), member.data.data(), member.data.size(), 0),
            &zip_source_free);
        const zip_int64_t index = source
            ? zip_file_add(archive.get(), member.name.c_str(), source.get(), ZIP_FL_ENC_UTF_8)
            : -1;
        if (index < 0)
            return fail(member.name);
        source.release(); // the archive owns it now
        if (zip_file_set_mtime(archive.get(), zip_uint64_t(index), memberTime, 0) != 0)
            return fail(member.name);
    }
    if (zip_close(archive.get()) != 0)
        return fail(path);
    archive.release(); // zip_close freed it
    return 0;
}

int damageZipMember(const std::string &path, const std::string &name, const std::string &how)
{
    std::vector<char> bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof())
            return -1;
    }
    // The member's local header and its central directory entry: signature, offset of the
    // uncompressed size, of the name's length and of the name.
    struct Header {
        const char *signature;
        std::size_t size;
        std::size_t nameLength;
        std::size_t name;
        bool local;
    };
    const Header headers[] = {{"PK\x03\x04", 22, 26, 30, true}, {"PK\x01\x02", 24, 28, 46, false}};
    bool found = false;
    for (const Header &header : headers) {
        const std::string signature(header.signature, 4);
        for (std::size_t at = 0; at + header.name <= bytes.size(); ++at) {
            if (std::string(&bytes[at], 4) != signature
                || std::string(&bytes[at + header.name],
                       std::min<std::size_t>(readLe(bytes, at + header.nameLength, 2),
                           bytes.size() - at - header.name))
                    != name)
                continue;
            found = true;
            const uint32_t size = readLe(bytes, at + header.size, 4);
            if (how == "short")
                writeLe32(bytes, at + header.size, size + 100);
            else if (how == "long")
                writeLe32(bytes, at + header.size, size - 100);
            if (!header.local)
                continue;
            // The data follows the local header's name and extra field.
            const std::size_t data = at + header.name + readLe(bytes, at + header.nameLength, 2)
                + readLe(bytes, at + header.nameLength + 2, 2);
            if (how == "crc")
                bytes.at(data + 10) = char(bytes.at(data + 10) ^ 0x5A);
            else if (how == "deflate")
                bytes.at(data) = char(0xFF); // a final block of the reserved type
        }
    }
    if (!found)
        return -1;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    return out.good() ? 0 : -1;
}
