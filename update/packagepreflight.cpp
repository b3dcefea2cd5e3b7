#include "packagepreflight.h"

#include "edidupload.h"
#include "fx3flash.h"

#include <QCoreApplication>

#include <limits>

int preflightPackage(ZipArchive &archive, const ProductInfo &product, const PackageMembers &members,
    bool repair, PreparedPackage &prepared, const ErrorReporter &error)
{
    if (repair) {
        if (readFx3BootImage(archive, product.sandboxImage, prepared.sandbox, error) < 0)
            return -1;
        prepared.sandboxMemberSize = archive.stat(product.sandboxImage).size;
    }
    if (!members.skipFirmware) {
        if (!archive.openFile(product.microcodeImage).isOpen()) {
            error(QCoreApplication::translate("Worker", "Error: failed to find microcode image: %1")
                      .arg(QString::fromStdString(product.microcodeImage)));
            return -1;
        }
        const uint64_t microcode = archive.stat(product.microcodeImage).size;
        if (microcode % 4 != 0) {
            error(fx3AlignmentText(microcode % flashChunkSize));
            return -1;
        }
        if (!archive.openFile(product.fpgaImage).isOpen()) {
            error(QCoreApplication::translate("Worker", "Error: failed to find FPGA image"));
            return -1;
        }
        const uint64_t fpga = archive.stat(product.fpgaImage).size;
        if (fpga > std::numeric_limits<uint32_t>::max()) {
            error(QCoreApplication::translate("Worker", "Error: FPGA image is too large: %1 bytes")
                      .arg(fpga));
            return -1;
        }
    }
    if (members.updateEdid && readEdidImage(error, product.edidFile, archive, prepared.edid) < 0)
        return -1;
    return 0;
}
