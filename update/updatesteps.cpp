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

    const int steps = (run.members.skipFirmware ? 0 : 2) + (run.members.updateEdid ? 1 : 0);
    qCDebug(defaultLog) << "Update steps:" << steps;
    // The package check lets no package through without a step; should one come anyway,
    // there is nothing to divide the range between.
    if (steps == 0)
        return 0;
    const int span = (100 - startPercent) / steps;

    int position = startPercent;
    int result = 0;
    if (!run.members.skipFirmware) {
        result = flashFx3Microcode(
            run.flashContext(), position, position + span, product->microcodeImage, archive);
        if (result < 0)
            return result;
        UpdateRun::pause(run.pacing.stepPause);
        position += span;

        switch (product->fpgaFormat) {
        case FpgaFramed:
            result = flashFpgaFramed(
                run.flashContext(), position, position + span, product->fpgaImage, archive);
            break;
        case FpgaPlain:
            result = flashFpgaPlain(
                run.flashContext(), position, position + span, product->fpgaImage, archive);
            break;
        default:
            return -1;
        }
        if (result < 0)
            return result;
        position += span;
    }

    if (run.members.updateEdid) {
        UpdateRun::pause(run.pacing.stepPause);
        return sendPreparedEdid(run.flashContext(), position, position + span, run.prepared.edid);
    }
    return result;
}
