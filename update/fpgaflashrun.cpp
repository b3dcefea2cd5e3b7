#include "fpgaflashrun.h"

#include "debuglog.h"
#include "flashstatus.h"
#include "usberrortext.h"

#include <QCoreApplication>
#include <QDebug>
#include <zlib.h>

#include <algorithm>
#include <vector>

namespace FpgaFlashRun {

int open(const FlashContext &context, const std::string &member, ZipArchive &archive, ZipFile &file,
    uint64_t &size)
{
    qCDebug(defaultLog) << "Initing flash...";
    const int started = sendFlashRequest(context, FlashRequest::FpgaFlashStart);
    if (started < 0) {
        context.error(
            QCoreApplication::translate("Worker", "Error: failed to start FPGA reflashing: %1")
                .arg(usbErrorName(started)));
        return started;
    }
    file = archive.openFile(member);
    if (!file.isOpen()) {
        context.error(QCoreApplication::translate("Worker", "Error: failed to find FPGA image"));
        return -1;
    }
    size = archive.stat(member).size;
    const int ready = waitFlashReady(context, FlashTarget::Fpga);
    if (ready < 0)
        return ready;
    qCDebug(defaultLog) << "Flashing Fpga...";
    return 0;
}

// How much of the image is read from the package at a time. libzip seeks and reads the file
// on every call, so reading a stored image a chunk at a time cost two system calls a chunk, a
// tenth of an update's time on the virtual bus (bench/bench_update); the device still gets
// flashChunkSize pieces. libzip hands over what it read before a failure (a CRC mismatch at
// the member's end) and reports the failure on the next call, so the same pieces go out
// before the run is abandoned as with chunk-sized reads.
constexpr std::size_t readAheadSize = 16 * flashChunkSize;

Streamed stream(
    const FlashContext &context, int start, int end, ZipFile &file, uint64_t size, uint32_t *crc)
{
    Streamed outcome;
    std::vector<uint8_t> block(readAheadSize);
    std::size_t blockLength = 0;
    std::size_t blockOffset = 0;
    uint64_t total = 0;
    int shown = -1; // the progress value reported last
    for (int n = 1;; ++n) {
        if (blockOffset == blockLength) {
            const int64_t read = file.read(block.data(), block.size());
            if (read < 0) {
                // The package is damaged and what went out may be too; only the host knows, so
                // the run is left without its completion for the loader not to commit it.
                context.error(
                    QCoreApplication::translate("Worker", "Error: failed to read FPGA image: %1")
                        .arg(QString::fromStdString(file.errorString())));
                outcome.abort = -1;
                return outcome;
            }
            if (read == 0)
                return outcome;
            blockLength = std::size_t(read);
            blockOffset = 0;
        }
        uint8_t *piece = block.data() + blockOffset;
        const std::size_t count = std::min<std::size_t>(flashChunkSize, blockLength - blockOffset);
        blockOffset += count;
        // Counted before sending: the trailer covers what the host meant to write, so a piece
        // the device lost makes the loader's check fail.
        if (crc)
            *crc = uint32_t(crc32(*crc, piece, uInt(count)));
        outcome.passed += count;
        const int written
            = sendFlashRequest(context, FlashRequest::FpgaFlashWrite, piece, uint16_t(count));
        if (written < 0) {
            qCDebug(defaultLog).nospace() << "Write chunk [" << n << "] size: " << written;
            context.error(
                QCoreApplication::translate("Worker", "Error: failed to write FPGA block:  %1")
                    .arg(usbErrorName(written)));
            outcome.failedWrite = written;
            return outcome;
        }
        total += uint64_t(written);
        // Reported, and logged, only when the value changes: an image has thousands of chunks
        // but the bar a few dozen steps, and each report is a signal queued into the window's
        // thread and each line a write to standard error; per chunk they took a sixth of an
        // update's time on the virtual bus (bench/bench_update).
        const int percent = flashProgress(start, end, total, size);
        if (percent != shown) {
            qCDebug(defaultLog).nospace() << "Write chunk [" << n << "] size: " << written;
            context.progress(percent);
            shown = percent;
        }
        const int ready = waitFlashReady(context, FlashTarget::Fpga);
        if (ready < 0) {
            outcome.abort = ready;
            return outcome;
        }
    }
}

int complete(const FlashContext &context)
{
    const int completed = sendFlashRequest(context, FlashRequest::FpgaFlashComplete);
    if (completed < 0)
        context.error(
            QCoreApplication::translate("Worker", "Error: failed to complete FPGA reflash: %1")
                .arg(usbErrorName(completed)));
    qCDebug(defaultLog) << "Flashing complete.";
    return completed;
}

} // namespace FpgaFlashRun
