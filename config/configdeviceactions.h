#pragma once

#include "configblocks.h"
#include "configdeviceactionbase.h"

// The device's three configuration blocks.
using DeviceFlagsAction = ConfigDeviceActionBase<unsigned char, 226, 227, 0, 0>;
using InputStatusAction = ConfigDeviceActionBase<InputStatusInfo, 178, 0, 0, 0>;
// wIndex selects user mode 0, 1 or 2.
using UserModeAction = ConfigDeviceActionBase<UserMode, 179, 179, 0, 0>;
