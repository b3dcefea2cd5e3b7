#include "configdevicedata.h"

#include "devicedescription.h"

ConfigDeviceDataPtr makeConfigDeviceData(uint16_t size)
{
    // An array needs delete[]; QSharedPointer's default deleter would call plain delete.
    return ConfigDeviceDataPtr(new uint8_t[size](), [](uint8_t *data) { delete[] data; });
}

void registerConfigMetaTypes()
{
    registerUsbMetaTypes();
    if (QMetaType::type("ConfigDeviceDataPtr") == QMetaType::UnknownType)
        qRegisterMetaType<ConfigDeviceDataPtr>("ConfigDeviceDataPtr");
    // Qt knows quint16 but not the <cstdint> spelling the signals are declared with.
    if (QMetaType::type("uint16_t") == QMetaType::UnknownType)
        qRegisterMetaType<uint16_t>("uint16_t");
}
