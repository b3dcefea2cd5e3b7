#include "packagezip.h"

#include <zip.h>

#include <memory>

namespace {

constexpr time_t memberTime = 1704067200; // 2024-01-01

using ArchiveHandle = std::unique_ptr<zip_t, decltype(&zip_discard)>;
using SourceHandle = std::unique_ptr<zip_source_t, decltype(&zip_source_free)>;

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
