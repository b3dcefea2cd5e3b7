#pragma once

#include "configblocks.h"
#include "configdevicedata.h"

#include <QString>

// The input-signal line of the main window for a status read from the device, such as
// "HDMI 1920x1080p@59.94, YUY2". The translatable texts belong to the window ("UpdateRepair").
QString inputStatusText(const InputStatusInfo &info);

// The same for a read completion: "request not supported" when it carried no status (a null
// or too short buffer).
QString inputStatusText(const ConfigDeviceDataPtr &ptr, uint16_t size);
