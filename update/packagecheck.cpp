#include "packagecheck.h"

#include "debuglog.h"

#include <QCoreApplication>
#include <QDebug>
#include <QStringList>

int checkPackageMembers(ZipArchive &archive, const ProductInfo &product, PackageMembers &members,
    const ErrorReporter &report)
{
    members = PackageMembers();

    struct Entry {
        const std::string &name;
        bool required;
    };
    const Entry entries[] = {
        {product.fpgaImage, true},
        {product.microcodeImage, true},
        {product.sandboxImage, true},
        {product.edidFile, false},
    };

    bool requiredFound = false;
    bool optionalFound = false;
    QStringList missing;
    for (const Entry &entry : entries) {
        // A product without an EDID has an empty name here, which no member can match.
        const bool found = !entry.name.empty() && archive.stat(entry.name).found();
        const QString name = QString::fromUtf8(entry.name.c_str());
        if (found && entry.required) {
            requiredFound = true;
        } else if (found) {
            qCDebug(defaultLog).nospace().noquote() << "optional file found: " << name;
            optionalFound = true;
            members.updateEdid = true; // the EDID file is the one optional member
        } else if (entry.required) {
            qCDebug(defaultLog).nospace().noquote() << "required file not found: " << name;
            members.skipFirmware = true;
            missing << name;
        }
    }

    // A package with the EDID file and none of the images only updates the EDID.
    const bool edidOnly = optionalFound && !requiredFound;
    if (members.skipFirmware && !edidOnly) {
        report(
            QCoreApplication::translate("Worker", "Invalid firmware package. File(s) not found: %1")
                .arg(missing.join(QStringLiteral(", "))));
        return -1;
    }
    return 0;
}
