#include "fpgaflashrun.h"

#include "flashstatus.h"
#include "usberrortext.h"

#include <QCoreApplication>
#include <QDebug>
#include <zlib.h>

#include <array>

namespace FpgaFlashRun {

int open(const FlashContext &context, const std::string &member, ZipArchive &archive, ZipFile &file,
    uint64_t &size)
{
    qDebug() << "Initing flash...";
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
    qDebug() << "Flashing Fpga...";
    return 0;
}

Streamed stream(
    const FlashContext &context, int start, int end, ZipFile &file, uint64_t size, uint32_t *crc)
{
    Streamed outcome;
    std::array<uint8_t, flashChunkSize> buffer;
    uint64_t total = 0;
    for (int n = 1;; ++n) {
        const int64_t count = file.read(buffer.data(), buffer.size());
        if (count < 0) {
            // The package is damaged and what went out may be too; only the host knows, so
            // the run is left without its completion for the loader not to commit it.
            context.error(
                QCoreApplication::translate("Worker", "Error: failed to read FPGA image: %1")
                    .arg(QString::fromStdString(file.errorString())));
            outcome.abort = -1;
            return outcome;
        }
        if (count == 0)
            return outcome;
        // Counted before sending: the trailer covers what the host meant to write, so a piece
        // the device lost makes the loader's check fail.
        if (crc)
            *crc = uint32_t(crc32(*crc, buffer.data(), uInt(count)));
        const int written = sendFlashRequest(
            context, FlashRequest::FpgaFlashWrite, buffer.data(), uint16_t(count));
        qDebug().nospace() << "Write chunk [" << n << "] size: " << written;
        if (written < 0) {
            context.error(
                QCoreApplication::translate("Worker", "Error: failed to write FPGA block:  %1")
                    .arg(usbErrorName(written)));
            outcome.failedWrite = written;
            return outcome;
        }
        total += uint64_t(written);
        context.progress(flashProgress(start, end, total, size));
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
    qDebug() << "Flashing complete.";
    return completed;
}

} // namespace FpgaFlashRun
