#include "deviceusers.h"

#include "videousers.h"

#include <QCoreApplication>

QStringList deviceUsers(const DeviceDescription &desc)
{
    QStringList texts;
    for (const VideoUser &user : usb_video_users(desc.busNumber, desc.portPath)) {
        // Joined, not substituted: a program may call itself "%1".
        texts << QString::fromStdString(user.program)
                + QCoreApplication::translate("DeviceUsers", " (process %1)").arg(user.pid);
    }
    return texts;
}
