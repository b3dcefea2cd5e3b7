#pragma once

#include "norbydevice.h"

#include <QSemaphore>
#include <QTranslator>

#include <memory>

Q_DECLARE_METATYPE(vdev::NorbyState)

namespace discoverytest {

// Tags every text with the context it was translated in. With `holdWorker` it also keeps the
// scanner thread inside the first text of context "Worker" until `proceed` is released.
class ContextTranslator : public QTranslator
{
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *sourceText, const char * = nullptr,
        int = -1) const override
    {
        if (holdWorker && qstrcmp(context, "Worker") == 0) {
            inside.release();
            proceed.tryAcquire(1, 5000);
        }
        return QString::fromLatin1(context) + QLatin1Char('|') + QString::fromLatin1(sourceText);
    }

    bool holdWorker = false;
    mutable QSemaphore inside;
    mutable QSemaphore proceed;
};

inline vdev::NorbyDevice::Config norbyConfig(
    uint16_t family, vdev::NorbyState state, uint16_t vendorId = 0x2B77)
{
    vdev::NorbyDevice::Config config;
    config.familyId = family;
    config.state = state;
    config.vendorId = vendorId;
    return config;
}

inline std::shared_ptr<vdev::NorbyDevice> norby(
    uint16_t family, vdev::NorbyState state, uint16_t vendorId = 0x2B77)
{
    return std::make_shared<vdev::NorbyDevice>(norbyConfig(family, state, vendorId));
}

} // namespace discoverytest
