#include "configdevicebase.h"

ConfigDeviceBase::ConfigDeviceBase(QObject *parent)
    : QObject(parent)
{
    registerConfigMetaTypes();
}

bool ConfigDeviceBase::acceptsRequest(uint8_t) const
{
    return true;
}

void ConfigDeviceBase::getRequestCompleteUnfiltered(
    uint8_t request, const ConfigDeviceDataPtr &ptr, uint16_t size)
{
    if (acceptsRequest(request))
        emit getRequestComplete(request, ptr, size);
}

void ConfigDeviceBase::setRequestCompleteUnfiltered(uint8_t request)
{
    if (acceptsRequest(request))
        emit setRequestComplete(request);
}

void ConfigDeviceBase::errorUnfiltered(uint8_t request, const QString &text)
{
    if (acceptsRequest(request))
        emit error(request, text);
}
