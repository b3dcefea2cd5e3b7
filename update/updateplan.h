#pragma once

#include "packagecheck.h"

#include <QMetaType>

#include <vector>

// How an update run's progress range is shared out, and what a run is doing at a given value:
// the package check takes it up to 2, a repair's download of the sandbox microcode on to 15,
// and the flashing steps share the rest evenly.
namespace UpdatePlan {
constexpr int PackageOpened = 1;
constexpr int PackageChecked = 2;
constexpr int SandboxLoaded = 15;

// Where the flashing steps start.
constexpr int stepsStart(bool repair)
{
    return repair ? SandboxLoaded : PackageChecked;
}
} // namespace UpdatePlan

enum class UpdateStep { Microcode, FpgaImage, Edid };

// The part of the progress range one step reports in.
struct UpdateStepRange {
    UpdateStep step;
    int from;
    int to;
};

// The steps `members` allow, in order, with the range each gets when the steps start at
// `startPercent` (UpdatePlan::stepsStart).
std::vector<UpdateStepRange> updateStepRanges(const PackageMembers &members, int startPercent);

// What a run is doing while it reports a value.
enum class UpdatePhase { Package, Sandbox, Device, Microcode, FpgaImage, Edid };
Q_DECLARE_METATYPE(UpdatePhase)

// The phase of a run at `percent`, `ranges` being its steps (none while the package is not
// checked yet). A step's last value is also the next step's first, and counts as the next
// step's; the last step's range ends at 100, so 100 is not "done" by itself: the step's
// completion request may still fail.
UpdatePhase updatePhaseAt(int percent, bool repair, const std::vector<UpdateStepRange> &ranges);
