#pragma once

#include "configdevicedata.h"
#include "devicedescription.h"

#include <QObject>
#include <QString>

#include <cstdint>

// The common face of the configuration engine: the request signals, the result signals, and
// the unfiltered result slots. The task broadcasts every result to all objects attached to
// it; each passes on only the results whose request code its filter accepts.
class ConfigDeviceBase : public QObject
{
    Q_OBJECT

public:
    explicit ConfigDeviceBase(QObject *parent = nullptr);

    // The request filter of the unfiltered slots.
    virtual bool acceptsRequest(uint8_t request) const;

signals:
    // Device to host: `size` bytes into `ptr`.
    void getConfigDeviceData(const DeviceDescription &desc, uint8_t request,
        const ConfigDeviceDataPtr &ptr, uint16_t size, uint16_t index, uint16_t value);
    // Host to device: `size` bytes from `ptr`.
    void setConfigDeviceData(const DeviceDescription &desc, uint8_t request,
        const ConfigDeviceDataPtr &ptr, uint16_t size, uint16_t index, uint16_t value);
    // A read finished; `ptr` is null and `size` 0 when it failed.
    void getRequestComplete(uint8_t request, const ConfigDeviceDataPtr &ptr, uint16_t size);
    // A write finished, successfully or not.
    void setRequestComplete(uint8_t request);
    // A request failed; `text` is for the user. Its completion signal follows.
    void error(uint8_t request, const QString &text);

public slots:
    void getRequestCompleteUnfiltered(
        uint8_t request, const ConfigDeviceDataPtr &ptr, uint16_t size);
    void setRequestCompleteUnfiltered(uint8_t request);
    void errorUnfiltered(uint8_t request, const QString &text);
};
