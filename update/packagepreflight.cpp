#include "packagepreflight.h"

#include "edidupload.h"
#include "fx3flash.h"

#include <QCoreApplication>

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

QString readFailureText(const char *text, const QString &reason)
{
    return QCoreApplication::translate("Worker", text).arg(reason);
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
        QString reason;
        ZipFile microcode = archive.openFile(product.microcodeImage);
        if (!microcode.isOpen()) {
            error(QCoreApplication::translate("Worker", "Error: failed to find microcode image: %1")
                      .arg(QString::fromStdString(product.microcodeImage)));
            return -1;
        }
        const uint64_t microcodeSize = archive.stat(product.microcodeImage).size;
        // The device erases its flash when the run starts: an empty image would leave it with
        // no microcode at all.
        if (microcodeSize == 0) {
            error(QCoreApplication::translate("Worker", "Error: microcode image is empty"));
            return -1;
        }
        if (microcodeSize % 4 != 0) {
            error(fx3AlignmentText(microcodeSize % flashChunkSize));
            return -1;
        }
        if (readWhole(microcode, microcodeSize, reason) < 0) {
            error(readFailureText(
                QT_TRANSLATE_NOOP("Worker", "Error: failed to read microcode image: %1"), reason));
            return -1;
        }

        ZipFile fpga = archive.openFile(product.fpgaImage);
        if (!fpga.isOpen()) {
            error(QCoreApplication::translate("Worker", "Error: failed to find FPGA image"));
            return -1;
        }
        const uint64_t fpgaSize = archive.stat(product.fpgaImage).size;
        if (fpgaSize == 0) {
            error(QCoreApplication::translate("Worker", "Error: FPGA image is empty"));
            return -1;
        }
        if (fpgaSize > std::numeric_limits<uint32_t>::max()) {
            error(QCoreApplication::translate("Worker", "Error: FPGA image is too large: %1 bytes")
                      .arg(fpgaSize));
            return -1;
        }
        if (readWhole(fpga, fpgaSize, reason) < 0) {
            error(readFailureText(
                QT_TRANSLATE_NOOP("Worker", "Error: failed to read FPGA image: %1"), reason));
            return -1;
        }
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
