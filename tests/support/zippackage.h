#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <string>
#include <vector>

namespace testsupport {

// Builds firmware packages (zip archives) in a temporary folder that lives as long as the
// object. Members are written with libzip, so the product's reader sees what a real packer
// makes; a member that is not added is missing.
class ZipPackage
{
public:
    enum Method {
        Stored,
        Deflated,
        Encrypted, // stored with AES-256 and a password the reader does not have
    };

    ZipPackage();

    ZipPackage &add(const std::string &name, const QByteArray &data, Method method = Stored);

    // Writes the members added so far into `fileName` in the folder; returns the full path,
    // or an empty string (after a warning naming the reason) when libzip failed.
    QString write(const QString &fileName = QStringLiteral("package.fw")) const;

    // Writes `bytes` as they are, for files that are not (or no longer) zip archives.
    QString writeRaw(const QString &fileName, const QByteArray &bytes) const;

    QString folder() const { return dir_.path(); }

private:
    struct Member {
        std::string name;
        QByteArray data;
        Method method;
    };

    QTemporaryDir dir_;
    std::vector<Member> members_;
};

// Replaces the first occurrence of `marker` in the file at `path` with `replacement` (of the
// same length): a stored member's bytes appear in the archive as they are, so this damages
// one member without touching the directory. False when the marker is not there.
bool patchFile(const QString &path, const QByteArray &marker, const QByteArray &replacement);

} // namespace testsupport
