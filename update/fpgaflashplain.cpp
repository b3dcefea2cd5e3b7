#include "fpgaflashplain.h"

#include "flashstatus.h"

#include <QCoreApplication>
#include <QDebug>

#include <array>

namespace {

QString errorName(int rc)
{
    return QString::fromUtf8(libusb_error_name(rc));
}

} // namespace

int flashFpgaPlain(
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
    int failed = 0;
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
            return -1;
        }
        if (count == 0)
            break;
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

    // The run is closed after a failed piece too; the failed piece decides the result.
    const int completed = sendFlashRequest(context, FlashRequest::FpgaFlashComplete);
    if (completed < 0)
        context.error(
            QCoreApplication::translate("Worker", "Error: failed to complete FPGA reflash: %1")
                .arg(errorName(completed)));
    qDebug() << "Flashing complete.";
    return failed < 0 ? failed : completed;
}
