#pragma once

#include <zip.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// libzip's error report as a pair: the libzip code (ZIP_ER_*) and, for the codes that carry
// one, the system's errno or zlib's code.
struct ZipErrorCode {
    int zip = 0;
    int system = 0;
};

// The text libzip gives for a pair, for example "Can't open file: No such file or directory".
std::string zipErrorString(ZipErrorCode code);

// One member's stat record: libzip's own, copied out of the archive, so `size` is the
// member's uncompressed size. All zeroes when the member was not found.
struct ZipStat : zip_stat_t {
    ZipStat()
        : zip_stat_t {}
    {
    }
    explicit ZipStat(const zip_stat_t &st)
        : zip_stat_t(st)
    {
    }

    // libzip marks only what the directory entry told it; a member that stat could not find
    // has none of the name, index, size or CRC validity bits.
    bool found() const
    {
        return (valid & (ZIP_STAT_NAME | ZIP_STAT_INDEX | ZIP_STAT_SIZE | ZIP_STAT_CRC)) != 0;
    }
};

// One open member of a ZipArchive, read front to back. Move-only; closes the member when
// destroyed. Keeps the archive's handle alive while it is open, so a file that outlives the
// ZipArchive it came from stays readable instead of reading freed memory.
class ZipFile
{
public:
    ZipFile() = default;
    ZipFile(const ZipFile &) = delete;
    ZipFile &operator=(const ZipFile &) = delete;
    ZipFile(ZipFile &&other) noexcept;
    ZipFile &operator=(ZipFile &&other) noexcept;
    ~ZipFile();

    bool isOpen() const { return file_ != nullptr; }

    // Up to `size` bytes into `buffer`: the count read, 0 at the end of the member, negative on
    // failure (the error pair then says why).
    int64_t read(void *buffer, uint64_t size);

    ZipErrorCode error() const { return error_; }
    std::string errorString() const { return zipErrorString(error_); }

    void close();

private:
    friend class ZipArchive;
    ZipFile(std::shared_ptr<zip_t> archive, zip_file_t *file)
        : archive_(std::move(archive))
        , file_(file)
    {
    }

    std::shared_ptr<zip_t> archive_;
    zip_file_t *file_ = nullptr;
    ZipErrorCode error_;
};

// A firmware package opened for reading. Move-only; the archive is closed when the last of
// this object and the ZipFiles opened from it goes away. Nothing is ever written to it.
class ZipArchive
{
public:
    ZipArchive() = default;
    // Opens the archive at `path`, the bytes of its name as the file system has them (see
    // packagepath.h); isOpen() and error() tell how that went.
    explicit ZipArchive(const std::string &path);
    // Opens the archive held in the `size` bytes at `bytes`, as the constructor opens a file.
    // The bytes are copied, so the caller's buffer may go away at once.
    static ZipArchive fromMemory(const void *bytes, std::size_t size);
    ZipArchive(const ZipArchive &) = delete;
    ZipArchive &operator=(const ZipArchive &) = delete;
    ZipArchive(ZipArchive &&other) noexcept = default;
    ZipArchive &operator=(ZipArchive &&other) noexcept = default;
    ~ZipArchive() = default;

    bool isOpen() const { return archive_ != nullptr; }

    // The member `name`; not found (all zeroes) when it is absent or the archive is not open.
    ZipStat stat(const std::string &name);
    // The member `name` opened for reading; a file that is not open when that failed, with
    // the reason in this archive's error pair.
    ZipFile openFile(const std::string &name);

    ZipErrorCode error() const { return error_; }
    std::string errorString() const { return zipErrorString(error_); }

private:
    void takeArchiveError();

    std::shared_ptr<zip_t> archive_;
    ZipErrorCode error_;
};
