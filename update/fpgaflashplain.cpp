#include "fpgaflashplain.h"

#include "fpgaflashrun.h"

int flashFpgaPlain(
    const FlashContext &context, int start, int end, const std::string &member, ZipArchive &archive)
{
    ZipFile file;
    uint64_t size = 0;
    const int opened = FpgaFlashRun::open(context, member, archive, file, size);
    if (opened < 0)
        return opened;

    const FpgaFlashRun::Streamed streamed
        = FpgaFlashRun::stream(context, start, end, file, size, nullptr);
    if (streamed.abort != 0)
        return streamed.abort;

    // The run is closed after a refused piece too; the refused piece decides the result.
    const int completed
        = FpgaFlashRun::complete(streamed.failedWrite < 0 ? context.afterFailure() : context);
    return streamed.failedWrite < 0 ? streamed.failedWrite : completed;
}
