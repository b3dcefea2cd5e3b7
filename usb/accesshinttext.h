#pragma once

#include "devicedescription.h"
#include "driverinstall.h"

#include <QString>

// `text`, one of the known texts for a device that could not be opened, with the platform's
// hint on why (usb_access_hint) as its second line when there is one. Kept out of
// driverinstall.h, which the Windows build compiles without Qt.
inline QString withAccessHint(const QString &text, int bus, int address)
{
    const std::string hint = usb_access_hint(bus, address);
    return hint.empty() ? text : text + '\n' + QString::fromStdString(hint);
}

inline QString withAccessHint(const QString &text, const DeviceDescription &desc)
{
    return withAccessHint(text, desc.busNumber, desc.deviceAddress);
}
