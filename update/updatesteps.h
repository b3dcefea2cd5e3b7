#pragma once

#include "packagecheck.h"
#include "updaterun.h"
#include "ziparchive.h"

#include <vector>

enum class UpdateStep { Microcode, FpgaImage, Edid };

// The part of the progress range one step reports in.
struct UpdateStepRange {
    UpdateStep step;
    int from;
    int to;
};

// The steps `members` allow, in order, with the range each gets when the steps start at
// `startPercent` (2 for an update, 15 after a repair's download).
std::vector<UpdateStepRange> updateStepRanges(const PackageMembers &members, int startPercent);

// The flashing steps of an update: the FX3 microcode and the FPGA image (unless the package
// holds only the EDID), then the EDID when the package has it. The range from `startPercent`
// to 100 is split evenly between the steps, with a pause between two steps. Returns the last
// step's result, or the first negative one (the failing step has reported it).
int runUpdateSteps(UpdateRun &run, int startPercent, ZipArchive &archive);
