#include "fx3flash.h"

#include "debuglog.h"
#include "flashstatus.h"
#include "usberrortext.h"

#include <QCoreApplication>
#include <QDebug>

#include <array>

QString fx3AlignmentText(uint64_t chunkLength)
{
    return QCoreApplication::translate(
        "Worker", "Error: microcode block does not aligned by 32 bit length: %1")
        .arg(chunkLength);
}

int flashFx3Microcode(
    const FlashContext &context, int start, int end, const std::string &member, ZipArchive &archive)
{
    qCDebug(defaultLog) << "Initing flash...";
    ZipFile file = archive.openFile(member);
    if (!file.isOpen()) {
        context.error(
            QCoreApplication::translate("Worker", "Error: failed to find microcode image: %1")
                .arg(QString::fromStdString(member)));
        return -1;
    }
    const uint64_t size = archive.stat(member).size;

    // The device flashes the microcode in 32-bit words and stalls a chunk of any other length.
    // Only the last chunk can be short, so the size tells before the run starts whether the
    // device would refuse the image half-way, with its beginning already in flash.
    if (size % 4 != 0) {
        context.error(fx3AlignmentText(size % flashChunkSize));
        return -1;
    }

    int rc = sendFlashRequest(context, FlashRequest::Fx3FlashStart);
    if (rc < 0) {
        context.error(
            QCoreApplication::translate("Worker", "Error: failed to start microcode reflashing: %1")
                .arg(usbErrorText(rc)));
        return rc;
    }
    rc = waitFlashReady(context, FlashTarget::Fx3);
    if (rc < 0)
        return rc;

    qCDebug(defaultLog) << "Flashing FX3 firmware...";
    int result = 0;
    std::array<uint8_t, flashChunkSize> buffer;
    uint64_t total = 0;
    for (int n = 1;; ++n) {
        const int64_t count = file.read(buffer.data(), buffer.size());
        if (count < 0) {
            // The package is damaged and what went out may be too. Unlike a refused write,
            // which the device knows of, only the host knows this, so the run is left without
            // its completion: the device must not take the image as whole.
            context.error(
                QCoreApplication::translate("Worker", "Error: failed to read microcode image: %1")
                    .arg(QString::fromStdString(file.errorString())));
            return -1;
        }
        if (count == 0)
            break;
        // Kept behind the size check for a member whose data disagrees with its directory.
        if (count % 4 != 0) {
            context.error(fx3AlignmentText(uint64_t(count)));
            result = -1;
            break;
        }
        const int written = sendFlashRequest(
            context, FlashRequest::Fx3FlashWrite, buffer.data(), uint16_t(count));
        qCDebug(defaultLog).nospace() << "Write chunk [" << n << "] size: " << written;
        if (written < 0) {
            context.error(
                QCoreApplication::translate("Worker", "Error: failed to write microcode block: %1")
                    .arg(usbErrorText(written)));
            result = written;
            break;
        }
        total += uint64_t(written);
        context.progress(flashProgress(start, end, total, size));
        const int ready = waitFlashReady(context, FlashTarget::Fx3);
        if (ready < 0) {
            result = ready;
            break;
        }
    }

    // The device ends its reflash run only on this request, so it goes out after a failure in
    // the loop as well; the first failure is the one the user hears about.
    const int completed = sendFlashRequest(context, FlashRequest::Fx3FlashComplete);
    if (completed < 0 && result == 0) {
        context.error(
            QCoreApplication::translate("Worker", "Error: failed to complete microcode reflash: %1")
                .arg(usbErrorText(completed)));
        result = completed;
    }
    qCDebug(defaultLog) << "Flashing complete.";
    return result;
}
