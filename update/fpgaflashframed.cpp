#include "fpgaflashframed.h"

#include "flashstatus.h"

#include <QCoreApplication>
#include <QDebug>
#include <zlib.h>

#include <array>
#include <iostream>

namespace {

constexpr std::size_t headerSize = 12;

QString errorName(int rc)
{
    return QString::fromUtf8(libusb_error_name(rc));
}

void putLe32(uint8_t *out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[i] = uint8_t(value >> (8 * i));
}

uint32_t crcOf(uint32_t crc, const uint8_t *data, std::size_t length)
{
    return uint32_t(crc32(crc, data, uInt(length)));
}

} // namespace

int flashFpgaFramed(
    const FlashContext &context, int start, int end, const std::string &member, ZipArchive &archive)
{
    qDebug() << "Initing flash...";
    int rc = sendFlashRequest(context, FlashRequest::FpgaFlashStart);
    if (rc < 0) {
        context.error(
            QCoreApplication::translate("Worker", "Error: failed to start FPGA reflashing: %1")
                .arg(errorName(rc)));
        return rc;
    }
    ZipFile file = archive.openFile(member);
    if (!file.isOpen()) {
        context.error(QCoreApplication::translate("Worker", "Error: failed to find FPGA image"));
        return -1;
    }
    const uint64_t size = archive.stat(member).size;
    rc = waitFlashReady(context, FlashTarget::Fpga);
    if (rc < 0)
        return rc;

    qDebug() << "Flashing Fpga...";
    std::clog << "FPGA size: " << size << std::endl;

    // The loader learns the image size from the header and checks the header by its own CRC,
    // so it can tell a truncated or garbled image from the trailer before it commits.
    std::array<uint8_t, headerSize> header {'F', 'P', 'G', 'A'};
    putLe32(header.data() + 4, uint32_t(size));
    putLe32(header.data() + 8, crcOf(0, header.data(), 8));
    rc = sendFlashRequest(context, FlashRequest::FpgaFlashWrite, header.data(), headerSize);
    if (rc < 0) {
        context.error(
            QCoreApplication::translate("Worker", "Error: failed to write FPGA header block:  %1")
                .arg(errorName(rc)));
        return rc;
    }

    int failed = 0;
    uint32_t crc = crcOf(0, nullptr, 0);
    std::array<uint8_t, flashChunkSize> buffer;
    uint64_t total = 0;
    for (int n = 1;; ++n) {
        const int64_t count = file.read(buffer.data(), buffer.size());
        if (count < 0) {
            // The package is damaged and what went out may be too; only the host knows, so
            // the run is left without its trailer and completion for the loader not to commit
            // it.
            context.error(
                QCoreApplication::translate("Worker", "Error: failed to read FPGA image: %1")
                    .arg(QString::fromStdString(file.errorString())));
            return -1;
        }
        if (count == 0)
            break;
        // Counted before sending: the trailer covers what the host meant to write, so a piece
        // the device lost makes the loader's check fail.
        crc = crcOf(crc, buffer.data(), std::size_t(count));
        const int written = sendFlashRequest(
            context, FlashRequest::FpgaFlashWrite, buffer.data(), uint16_t(count));
        qDebug().nospace() << "Write chunk [" << n << "] size: " << written;
        if (written < 0) {
            context.error(
                QCoreApplication::translate("Worker", "Error: failed to write FPGA block:  %1")
                    .arg(errorName(written)));
            failed = written;
            break;
        }
        total += uint64_t(written);
        context.progress(flashProgress(start, end, total, size));
        rc = waitFlashReady(context, FlashTarget::Fpga);
        if (rc < 0)
            return rc;
    }

    std::array<uint8_t, 4> trailer;
    putLe32(trailer.data(), crc);
    rc = sendFlashRequest(context, FlashRequest::FpgaFlashWrite, trailer.data(), trailer.size());
    if (rc < 0) {
        context.error(QCoreApplication::translate("Worker", "Error: failed FPGA CRC check: %1")
                          .arg(errorName(rc)));
        if (failed == 0)
            failed = rc;
    }
    rc = waitFlashReady(context, FlashTarget::Fpga);
    if (rc < 0)
        return rc;

    const int completed = sendFlashRequest(context, FlashRequest::FpgaFlashComplete);
    if (completed < 0)
        context.error(
            QCoreApplication::translate("Worker", "Error: failed to complete FPGA reflash: %1")
                .arg(errorName(completed)));
    qDebug() << "Flashing complete.";
    return failed < 0 ? failed : completed;
}
