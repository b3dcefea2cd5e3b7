#include "devicedescription.h"

void registerUsbMetaTypes()
{
    qRegisterMetaType<DeviceDescription>("DeviceDescription");
    qRegisterMetaType<unsigned char>("uint8_t");
}

QString hexId(uint16_t id)
{
    return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0'));
}
