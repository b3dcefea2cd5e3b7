#include "packagepreflight.h"

#include "edidupload.h"
#include "fx3flash.h"

#include <QCoreApplication>

#include <functional>
#include <limits>
#include <vector>

namespace {

// What the preflight reads at a time: memory stays flat whatever the image's size.
constexpr std::size_t readPieceSize = 64 * 1024;

// Reads the open member `file` to its end through the reader the flashing step uses, so
// libzip checks its data against the CRC of the package's directory and its length against
// the directory's size, as it would while the image streams to the device. Returns 0, or -1
// with the reader's reason in `reason`.
int readWhole(ZipFile &file, uint64_t declared, QString &reason)
{
    std::vector<uint8_t> piece(readPieceSize);
    uint64_t total = 0;
    for (;;) {
        const int64_t count = file.read(piece.data(), piece.size());
        if (count < 0) {
            reason = QString::fromLocal8Bit(file.errorString().c_str());
            return -1;
        }
        if (count == 0)
            break;
        total += uint64_t(count);
    }
    // libzip compares the length only when the directory gave a CRC to compare as well.
    if (total != declared) {
        reason = QString::fromLocal8Bit(zipErrorString({ZIP_ER_INCONS, 0}).c_str());
        return -1;
    }
    return 0;
}

// What an image step says when its member is missing, empty or unreadable (%1: the reason).
struct ImageTexts {
    QString missing;
    QString empty;
    const char *unreadable;
};

// Opens the image `member`, refuses it when empty (the device erases its flash when the run
// starts, and an empty image would leave it with none) or when `sizeRefusal` gives a text for
// its size, and reads it whole. Returns 0, or -1 after reporting the first fault.
int checkImage(ZipArchive &archive, const std::string &member, const ImageTexts &texts,
    const std::function<QString(uint64_t)> &sizeRefusal, const ErrorReporter &error)
{
    ZipFile file = archive.openFile(member);
    if (!file.isOpen()) {
        error(texts.missing);
        return -1;
    }
    const uint64_t size = archive.stat(member).size;
    const QString refusal = size == 0 ? texts.empty : sizeRefusal(size);
    if (!refusal.isEmpty()) {
        error(refusal);
        return -1;
    }
    QString reason;
    if (readWhole(file, size, reason) < 0) {
        error(QCoreApplication::translate("Worker", texts.unreadable).arg(reason));
        return -1;
    }
    return 0;
}

} // namespace

int preflightPackage(ZipArchive &archive, const ProductInfo &product, const PackageMembers &members,
    bool repair, PreparedPackage &prepared, const ErrorReporter &error)
{
    if (repair) {
        if (readFx3BootImage(archive, product.sandboxImage, prepared.sandbox, error) < 0)
            return -1;
        prepared.sandboxMemberSize = archive.stat(product.sandboxImage).size;
    }
    if (!members.skipFirmware) {
        const ImageTexts microcode {
            QCoreApplication::translate("Worker", "Error: failed to find microcode image: %1")
                .arg(QString::fromStdString(product.microcodeImage)),
            QCoreApplication::translate("Worker", "Error: microcode image is empty"),
            QT_TRANSLATE_NOOP("Worker", "Error: failed to read microcode image: %1")};
        const ImageTexts fpga {
            QCoreApplication::translate("Worker", "Error: failed to find FPGA image"),
            QCoreApplication::translate("Worker", "Error: FPGA image is empty"),
            QT_TRANSLATE_NOOP("Worker", "Error: failed to read FPGA image: %1")};
        // The device flashes the microcode in 32-bit words; the FPGA header holds a 32-bit size.
        const auto notWords = [](uint64_t size) {
            return size % 4 != 0 ? fx3AlignmentText(size % flashChunkSize) : QString();
        };
        const auto tooLarge = [](uint64_t size) {
            return size > std::numeric_limits<uint32_t>::max()
                ? QCoreApplication::translate("Worker", "Error: FPGA image is too large: %1 bytes")
                      .arg(size)
                : QString();
        };
        if (checkImage(archive, product.microcodeImage, microcode, notWords, error) < 0
            || checkImage(archive, product.fpgaImage, fpga, tooLarge, error) < 0)
            return -1;
    }
    if (members.updateEdid) {
        if (readEdidImage(error, product.edidFile, archive, prepared.edid) < 0)
            return -1;
        // Found here rather than by the EDID step, after the microcode and the FPGA image were
        // flashed with the access request already granted.
        if (prepared.edid.size() > controlTransferLimit()) {
            error(edidTooLargeText(prepared.edid.size()));
            return -1;
        }
    }
    return 0;
}
