#include "ziparchive.h"

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// Size of the text buffer the package's error messages are cut to.
constexpr std::size_t errorTextCapacity = 512;

// zip_error_t holds the text zip_error_strerror builds, so it must be finalised.
class ZipErrorRecord
{
public:
    explicit ZipErrorRecord(ZipErrorCode code)
    {
        zip_error_init(&error_);
        // zip_error_init_with_code would replace the system part with the current errno; the
        // pair must be described as it was recorded.
        zip_error_set(&error_, code.zip, code.system);
    }
    ZipErrorRecord(const ZipErrorRecord &) = delete;
    ZipErrorRecord &operator=(const ZipErrorRecord &) = delete;
    ~ZipErrorRecord() { zip_error_fini(&error_); }

    std::string text()
    {
        std::string text = zip_error_strerror(&error_);
        if (text.size() >= errorTextCapacity)
            text.resize(errorTextCapacity - 1);
        return text;
    }

private:
    zip_error_t error_;
};

ZipErrorCode codeOf(zip_error_t *error)
{
    return {zip_error_code_zip(error), zip_error_code_system(error)};
}

// A zip_error_t that libzip fills in, finalised when it goes.
class ZipErrorScope
{
public:
    ZipErrorScope() { zip_error_init(&error_); }
    ZipErrorScope(const ZipErrorScope &) = delete;
    ZipErrorScope &operator=(const ZipErrorScope &) = delete;
    ~ZipErrorScope() { zip_error_fini(&error_); }

    zip_error_t *get() { return &error_; }

private:
    zip_error_t error_;
};

struct SourceFree {
    void operator()(zip_source_t *source) const { zip_source_free(source); }
};

// zip_close writes pending changes; there never are any, but should it fail all the same the
// handle would stay allocated, so it is discarded then.
void closeArchive(zip_t *archive)
{
    if (zip_close(archive) != 0)
        zip_discard(archive);
}

} // namespace

std::string zipErrorString(ZipErrorCode code)
{
    return ZipErrorRecord(code).text();
}

ZipFile::ZipFile(ZipFile &&other) noexcept
    : archive_(std::move(other.archive_))
    , file_(std::exchange(other.file_, nullptr))
    , error_(other.error_)
{
}

ZipFile &ZipFile::operator=(ZipFile &&other) noexcept
{
    if (this != &other) {
        close();
        archive_ = std::move(other.archive_);
        file_ = std::exchange(other.file_, nullptr);
        error_ = other.error_;
    }
    return *this;
}

ZipFile::~ZipFile()
{
    close();
}

void ZipFile::close()
{
    if (file_)
        zip_fclose(std::exchange(file_, nullptr));
    archive_.reset();
}

int64_t ZipFile::read(void *buffer, uint64_t size)
{
    if (!file_) {
        error_ = {ZIP_ER_INVAL, ENOENT};
        return -1;
    }
    const zip_int64_t count = zip_fread(file_, buffer, size);
    if (count < 0)
        error_ = codeOf(zip_file_get_error(file_));
    return count;
}

ZipArchive::ZipArchive(const std::string &path)
{
    // The system would read the name only up to a NUL byte, and open another file.
    if (path.find('\0') != std::string::npos) {
        error_ = {ZIP_ER_OPEN, ENOENT};
        return;
    }
    int zipError = ZIP_ER_OK;
    // zip_open hands the system part of its error back through errno only; clear it first so
    // a stale value from earlier work cannot show up in the message.
    errno = 0;
    zip_t *archive = zip_open(path.c_str(), 0, &zipError);
    const int systemError = errno;
    if (!archive) {
        error_ = {zipError, systemError};
        return;
    }
    archive_.reset(archive, closeArchive);
}

ZipArchive ZipArchive::fromMemory(const void *bytes, std::size_t size)
{
    ZipArchive result;
    // libzip reads the buffer for as long as the archive is open, which a ZipFile can make
    // longer than the caller keeps its bytes: the copy goes with the handle.
    auto copy = std::make_shared<const std::vector<uint8_t>>(
        static_cast<const uint8_t *>(bytes), static_cast<const uint8_t *>(bytes) + size);
    ZipErrorScope error;
    std::unique_ptr<zip_source_t, SourceFree> source(
        zip_source_buffer_create(copy->data(), copy->size(), 0, error.get()));
    if (!source) {
        result.error_ = codeOf(error.get());
        return result;
    }
    zip_t *archive = zip_open_from_source(source.get(), 0, error.get());
    if (!archive) {
        result.error_ = codeOf(error.get());
        return result;
    }
    source.release(); // the archive owns it now
    result.archive_.reset(archive, [copy](zip_t *opened) { closeArchive(opened); });
    return result;
}

void ZipArchive::takeArchiveError()
{
    error_ = codeOf(zip_get_error(archive_.get()));
}

ZipStat ZipArchive::stat(const std::string &name)
{
    if (!archive_)
        return {};
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat(archive_.get(), name.c_str(), 0, &st) != 0) {
        takeArchiveError();
        return {};
    }
    return ZipStat(st);
}

ZipFile ZipArchive::openFile(const std::string &name)
{
    if (!archive_)
        return {};
    zip_file_t *file = zip_fopen(archive_.get(), name.c_str(), 0);
    if (!file) {
        takeArchiveError();
        return {};
    }
    return ZipFile(archive_, file);
}
