#include "devicedescription.h"

void registerUsbMetaTypes()
{
    qRegisterMetaType<DeviceDescription>("DeviceDescription");
    qRegisterMetaType<unsigned char>("uint8_t");
}
