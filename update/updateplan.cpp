#include "updateplan.h"

std::vector<UpdateStepRange> updateStepRanges(const PackageMembers &members, int startPercent)
{
    std::vector<UpdateStep> steps;
    if (!members.skipFirmware)
        steps = {UpdateStep::Microcode, UpdateStep::FpgaImage};
    if (members.updateEdid)
        steps.push_back(UpdateStep::Edid);
    std::vector<UpdateStepRange> ranges;
    // The range is split evenly; the rest of the division is left over at the top, which the
    // run's own 100 covers.
    const int span = steps.empty() ? 0 : (100 - startPercent) / int(steps.size());
    for (size_t i = 0; i < steps.size(); ++i) {
        const int from = startPercent + int(i) * span;
        ranges.push_back({steps[i], from, from + span});
    }
    return ranges;
}

UpdatePhase updatePhaseAt(int percent, bool repair, const std::vector<UpdateStepRange> &ranges)
{
    using namespace UpdatePlan;
    if (percent < PackageChecked || (!repair && percent == PackageChecked && ranges.empty()))
        return UpdatePhase::Package;
    if (repair && percent < SandboxLoaded)
        return UpdatePhase::Sandbox;
    for (auto range = ranges.rbegin(); range != ranges.rend(); ++range) {
        if (percent < range->from)
            continue;
        switch (range->step) {
        case UpdateStep::Microcode:
            return UpdatePhase::Microcode;
        case UpdateStep::FpgaImage:
            return UpdatePhase::FpgaImage;
        case UpdateStep::Edid:
            return UpdatePhase::Edid;
        }
    }
    return UpdatePhase::Device;
}
