#include "packagefile.h"

#include "packagepath.h"

#include <QCoreApplication>

namespace packagefile {

QString text(const QByteArray &path)
{
    return packagePathText(path);
}

QByteArray fromArgument(const QString &shown, int argc, const char *const *argv, QString *why)
{
    return argumentPathBytes(shown, argc, argv, why);
}

QString openError(const QString &reason)
{
    return QCoreApplication::translate("Worker", "Cannot open firmware package: %1").arg(reason);
}

} // namespace packagefile
