#pragma once

#include "updateplan.h"
#include "updaterun.h"
#include "ziparchive.h"

// The flashing steps of an update: the FX3 microcode and the FPGA image (unless the package
// holds only the EDID), then the EDID when the package has it. The range from `startPercent`
// to 100 is split evenly between the steps, with a pause between two steps. Returns the last
// step's result, or the first negative one (the failing step has reported it).
int runUpdateSteps(UpdateRun &run, int startPercent, ZipArchive &archive);
