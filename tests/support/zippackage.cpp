#include "zippackage.h"

#include <QDir>
#include <QFile>
#include <QtGlobal>
#include <zip.h>

namespace testsupport {

constexpr char packagePassword[] = "not-for-the-reader";

ZipPackage::ZipPackage() = default;

ZipPackage &ZipPackage::add(const std::string &name, const QByteArray &data, Method method)
{
    members_.push_back({name, data, method});
    return *this;
}

QString ZipPackage::write(const QString &fileName) const
{
    // libzip writes no file at all for an archive without members; an empty package is still a
    // valid archive, its end-of-directory record alone.
    if (members_.empty())
        return writeRaw(fileName, QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0'));

    const QString path = QDir(dir_.path()).filePath(fileName);
    QFile::remove(path);
    int errorCode = 0;
    zip_t *archive
        = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_EXCL, &errorCode);
    if (!archive) {
        qWarning("ZipPackage: cannot create %s (libzip error %d)", qPrintable(path), errorCode);
        return {};
    }
    const auto fail = [&](const char *what, const std::string &name) {
        qWarning("ZipPackage: cannot %s %s: %s", what, name.c_str(),
            qPrintable(QString::fromLocal8Bit(zip_error_strerror(zip_get_error(archive)))));
        zip_discard(archive);
        return QString();
    };
    for (const Member &member : members_) {
        // libzip reads the buffer at zip_close; the members outlive that.
        zip_source_t *source = zip_source_buffer(
            archive, member.data.constData(), zip_uint64_t(member.data.size()), 0);
        const zip_int64_t index
            = source ? zip_file_add(archive, member.name.c_str(), source, ZIP_FL_ENC_UTF_8) : -1;
        if (index < 0) {
            if (source)
                zip_source_free(source);
            return fail("add", member.name);
        }
        const zip_uint64_t entry = zip_uint64_t(index);
        const int32_t compression = member.method == Deflated ? ZIP_CM_DEFLATE : ZIP_CM_STORE;
        if (zip_set_file_compression(archive, entry, compression, 0) != 0
            || (member.method == Encrypted
                && zip_file_set_encryption(archive, entry, ZIP_EM_AES_256, packagePassword) != 0))
            return fail("set up", member.name);
    }
    if (zip_close(archive) != 0)
        return fail("write", path.toStdString());
    return path;
}

QString ZipPackage::writeRaw(const QString &fileName, const QByteArray &bytes) const
{
    const QString path = QDir(dir_.path()).filePath(fileName);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(bytes) != bytes.size()) {
        qWarning("ZipPackage: cannot write %s", qPrintable(path));
        return {};
    }
    return path;
}

bool patchFile(const QString &path, const QByteArray &marker, const QByteArray &replacement)
{
    if (marker.size() != replacement.size())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    QByteArray bytes = file.readAll();
    const int at = bytes.indexOf(marker);
    if (at < 0)
        return false;
    bytes.replace(at, replacement.size(), replacement);
    return file.seek(0) && file.write(bytes) == bytes.size();
}

} // namespace testsupport
