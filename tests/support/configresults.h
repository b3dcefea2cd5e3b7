#pragma once

// The configuration engine's results as text, shared by its tests on the virtual bus
// (tests/config, tests/faults) and on the real libusb (tests/umockdev).

#include "configdevicebase.h"

#include <QObject>
#include <QString>

namespace testsupport {

// Hands each result of `source` to `add(request, line)` on `context`'s thread, in arrival order:
// "get <hex bytes> <size>" ("get null 0" without data), "set" or "error: <text>".
template<typename Add> void recordConfigResults(ConfigDeviceBase &source, QObject *context, Add add)
{
    QObject::connect(&source, &ConfigDeviceBase::getRequestComplete, context,
        [add](uint8_t request, const ConfigDeviceDataPtr &ptr, uint16_t size) {
            const QByteArray data(reinterpret_cast<const char *>(ptr.data()), ptr ? size : 0);
            add(request, "get " + (ptr ? data.toHex(' ') : "null") + ' ' + QString::number(size));
        });
    QObject::connect(&source, &ConfigDeviceBase::setRequestComplete, context,
        [add](uint8_t request) { add(request, QStringLiteral("set")); });
    QObject::connect(&source, &ConfigDeviceBase::error, context,
        [add](uint8_t request, const QString &text) { add(request, "error: " + text); });
}

} // namespace testsupport
