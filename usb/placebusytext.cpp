#include "placebusytext.h"

#include <QCoreApplication>

QString placeBusyText(const PlaceHolder &holder)
{
    if (!holder.known)
        return QCoreApplication::translate("Worker", "Device busy: another program is using it");
    return QCoreApplication::translate("Worker", "Device busy: %1 (process %2) is using it for: %3")
        .arg(QString::fromStdString(holder.program), QString::number(holder.pid),
            QString::fromStdString(holder.purpose));
}
