#pragma once

#include <QByteArray>
#include <QString>

// A package file is opened by the bytes of its name, which need not be valid text (see
// update/packagepath.h): the front ends keep those bytes and show the name as text.
namespace packagefile {

// The name as the user sees it.
QString text(const QByteArray &path);

// The bytes of the command-line argument shown as `shown`; null, with the reason in `why`,
// when no file or more than one is named that way.
QByteArray fromArgument(
    const QString &shown, int argc, const char *const *argv, QString *why = nullptr);

// The text for a package that cannot be opened, as the update gives it.
QString openError(const QString &reason);

} // namespace packagefile
