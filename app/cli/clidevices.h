#pragma once

#include "devicedescription.h"
#include "devicefilter.h"

#include <QJsonObject>
#include <QString>

#include <vector>

// How the command line names, shows and picks devices.
namespace clidevices {

// "BUS-PATH", such as 2-3.1: the bus number and the port numbers from the root hub down.
QString portText(const DeviceDescription &desc);

// "normal", "soft-repair", "boot-loader" or "sandbox": the device's state for scripts.
QString stateName(const DeviceDescription &desc);

// "[PORT SERIAL]", which starts every line of an update of several devices ("-" for no
// serial), escaped.
QString deviceTag(const DeviceDescription &desc);

// One line of `list`: state, vendor:product id, serial, version, port, product, escaped for
// the terminal (see clioutput::escapedText).
QString deviceLine(const DeviceDescription &desc);

// The same as a JSON object, with the settings the device offers.
QJsonObject deviceJson(const DeviceDescription &desc);

// The devices `filter` admits (the window's rules) that sit at `port` (empty: anywhere).
std::vector<DeviceDescription> selectDevices(
    const std::vector<DeviceDescription> &devices, const DeviceFilter &filter, const QString &port);

} // namespace clidevices
