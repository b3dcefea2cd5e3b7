#include "fpgaflashframed.h"

#include "flashstatus.h"
#include "fpgaflashrun.h"
#include "usberrortext.h"

#include <QCoreApplication>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <iostream>
#include <vector>

namespace {

constexpr std::size_t headerSize = 12;

void putLe32(uint8_t *out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[i] = uint8_t(value >> (8 * i));
}

// The CRC-32 of the member's first `length` bytes, read anew; `fallback` when they cannot be
// read (the trailer then still differs from what the loader counted, as it must).
uint32_t prefixCrc(
    ZipArchive &archive, const std::string &member, uint64_t length, uint32_t fallback)
{
    ZipFile file = archive.openFile(member);
    std::vector<uint8_t> block(64 * 1024);
    uint32_t crc = uint32_t(crc32(0, nullptr, 0));
    while (length > 0 && file.isOpen()) {
        const int64_t read = file.read(block.data(), std::min<uint64_t>(length, block.size()));
        if (read <= 0)
            return fallback;
        crc = uint32_t(crc32(crc, block.data(), uInt(read)));
        length -= uint64_t(read);
    }
    return length == 0 ? crc : fallback;
}

} // namespace

int flashFpgaFramed(
    const FlashContext &context, int start, int end, const std::string &member, ZipArchive &archive)
{
    ZipFile file;
    uint64_t size = 0;
    const int opened = FpgaFlashRun::open(context, member, archive, file, size);
    if (opened < 0)
        return opened;
    std::clog << "FPGA size: " << size << std::endl;

    // The loader learns the image size from the header and checks the header by its own CRC,
    // so it can tell a truncated or garbled image from the trailer before it commits.
    std::array<uint8_t, headerSize> header {'F', 'P', 'G', 'A'};
    putLe32(header.data() + 4, uint32_t(size));
    putLe32(header.data() + 8, uint32_t(crc32(0, header.data(), 8)));
    int rc = sendFlashRequest(context, FlashRequest::FpgaFlashWrite, header.data(), headerSize);
    if (rc < 0) {
        context.error(
            QCoreApplication::translate("Worker", "Error: failed to write FPGA header block:  %1")
                .arg(usbErrorName(rc)));
        return rc;
    }

    // The trailer is the CRC-32 of the bytes passed to chunk writes. For a whole image that is
    // the CRC the package's directory holds for the member: libzip checks every byte read
    // against it and fails the last read on a mismatch, which abandons the run before the
    // trailer. So the host counts it itself only when the directory lacks it, and after a
    // refused chunk, for the part that went out.
    const ZipStat stat = archive.stat(member);
    const bool directoryCrc = (stat.valid & ZIP_STAT_CRC) != 0;
    uint32_t crc = directoryCrc ? stat.crc : uint32_t(crc32(0, nullptr, 0));
    const FpgaFlashRun::Streamed streamed
        = FpgaFlashRun::stream(context, start, end, file, size, directoryCrc ? nullptr : &crc);
    if (streamed.abort != 0)
        return streamed.abort;
    int failed = streamed.failedWrite;
    if (failed < 0 && directoryCrc)
        crc = prefixCrc(archive, member, streamed.passed, crc);

    // The trailer and the completion still go out after a refused piece: the loader ends its
    // run only on the completion, and the trailer's CRC then tells it the image is not whole.
    std::array<uint8_t, 4> trailer;
    putLe32(trailer.data(), crc);
    rc = sendFlashRequest(context, FlashRequest::FpgaFlashWrite, trailer.data(), trailer.size());
    if (rc < 0) {
        (failed < 0 ? context.afterFailure() : context)
            .error(QCoreApplication::translate("Worker", "Error: failed FPGA CRC check: %1")
                       .arg(usbErrorName(rc)));
        if (failed == 0)
            failed = rc;
    }
    const FlashContext closing = failed < 0 ? context.afterFailure() : context;
    rc = waitFlashReady(closing, FlashTarget::Fpga);
    if (rc < 0)
        return failed < 0 ? failed : rc;

    const int completed = FpgaFlashRun::complete(closing);
    return failed < 0 ? failed : completed;
}
