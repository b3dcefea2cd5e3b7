#include "updatesteps.h"

#include "debuglog.h"
#include "edidupload.h"
#include "fpgaflashframed.h"
#include "fpgaflashplain.h"
#include "fx3flash.h"

#include <QDebug>

int runUpdateSteps(UpdateRun &run, int startPercent, ZipArchive &archive)
{
    const ProductInfo *product = run.product.info;
    if (!product)
        return -1;

    const std::vector<UpdateStepRange> ranges = updateStepRanges(run.members, startPercent);
    qCDebug(defaultLog) << "Update steps:" << int(ranges.size());
    int result = 0;
    for (size_t i = 0; i < ranges.size(); ++i) {
        const UpdateStepRange &range = ranges[i];
        // The flash settles between two steps; the EDID step waits also when it is the only
        // one.
        if (i > 0 || range.step == UpdateStep::Edid)
            UpdateRun::pause(run.pacing.stepPause);
        switch (range.step) {
        case UpdateStep::Microcode:
            result = flashFx3Microcode(
                run.flashContext(), range.from, range.to, product->microcodeImage, archive);
            break;
        case UpdateStep::FpgaImage:
            if (product->fpgaFormat == FpgaFramed)
                result = flashFpgaFramed(
                    run.flashContext(), range.from, range.to, product->fpgaImage, archive);
            else if (product->fpgaFormat == FpgaPlain)
                result = flashFpgaPlain(
                    run.flashContext(), range.from, range.to, product->fpgaImage, archive);
            else
                return -1;
            break;
        case UpdateStep::Edid:
            result = sendPreparedEdid(run.flashContext(), range.from, range.to, run.prepared.edid);
            break;
        }
        if (result < 0)
            return result;
    }
    return result;
}
