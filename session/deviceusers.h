#pragma once

#include "devicedescription.h"

#include <QStringList>

// The programs, other than this one, that have the device's video open (a capture application
// recording from it), each as "program (process N)". An update restarts the device, which
// ends their capture, so the front ends ask before one starts. Empty where the platform cannot
// tell.
QStringList deviceUsers(const DeviceDescription &desc);
