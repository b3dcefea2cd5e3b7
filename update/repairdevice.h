#pragma once

#include "devicedescription.h"
#include "updaterun.h"
#include "ziparchive.h"

// Brings back a device in a repair state (`desc`, open in `run.device`): loads the product's
// sandbox microcode into the FX3's RAM and starts it, waits for the device to come back on the
// same port under one of the product's sandbox ids, opens it (installing the driver when it
// refuses), and runs the update steps on it from 15 percent. Returns the steps' result, or a
// negative result after reporting the failure. `run.device` then holds the restarted device,
// or nothing when it could not be opened.
int repairDevice(UpdateRun &run, ZipArchive &archive, const DeviceDescription &desc);
