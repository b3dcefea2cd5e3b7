#include "fx3bootload.h"

#include "controlrequest.h"
#include "debuglog.h"
#include "updateplan.h"
#include "usberrortext.h"

#include <QCoreApplication>
#include <QDebug>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// The download takes the progress from the package check's end to where the flashing steps
// after the restart start.
constexpr uint64_t progressFrom = UpdatePlan::PackageChecked;
constexpr uint64_t progressSpan = UpdatePlan::SandboxLoaded - UpdatePlan::PackageChecked;

int ramTransfer(libusb_device_handle *handle, uint8_t requestType, uint32_t address, uint8_t *data,
    std::size_t length)
{
    return libusb_control_transfer(handle, requestType, fx3RamAccessRequest,
        uint16_t(address & 0xFFFF), uint16_t(address >> 16), data, uint16_t(length),
        ControlRequest::TimeoutMs);
}

// Writes one section chunk by chunk, reading each chunk back before the next one goes out, so
// a RAM or transfer fault is caught at the chunk that suffered it.
int writeSection(const FlashContext &context, const Fx3BootSection &section)
{
    // libusb takes the data of an outgoing transfer through a non-const pointer.
    std::vector<uint8_t> outgoing(fx3RamChunkBytes);
    std::vector<uint8_t> readBack(fx3RamChunkBytes);
    const std::size_t length = section.data.size();
    uint32_t address = section.address;
    for (std::size_t offset = 0; offset < length;) {
        const std::size_t chunk = std::min(fx3RamChunkBytes, length - offset);
        std::memcpy(outgoing.data(), section.data.data() + offset, chunk);
        const int rc = ramTransfer(
            context.handle, ControlRequest::VendorOut, address, outgoing.data(), chunk);
        const int readRc = rc < 0 ? rc
                                  : ramTransfer(context.handle, ControlRequest::VendorIn, address,
                                      readBack.data(), chunk);
        if (readRc < 0) {
            context.error(
                QCoreApplication::translate("Worker", "Error: failed to write microcode: %1")
                    .arg(usbErrorName(readRc)));
            return readRc;
        }
        // A short answer leaves bytes unconfirmed: as bad as bytes that differ.
        if (std::size_t(readRc) != chunk
            || std::memcmp(readBack.data(), section.data.data() + offset, chunk) != 0) {
            context.error(QCoreApplication::translate("Worker", "Fail to verify image"));
            return -1;
        }
        address += uint32_t(chunk);
        offset += chunk;
    }
    return 0;
}

} // namespace

int downloadFx3BootImage(
    const FlashContext &context, const Fx3BootImage &image, uint64_t memberSize)
{
    uint64_t total = 0;
    for (const Fx3BootSection &section : image.sections) {
        const uint64_t bytes = section.data.size();
        qCDebug(defaultLog).nospace().noquote()
            << "Write chunk, addr 0x" << QString::number(section.address, 16) << ", len=" << bytes;
        total += bytes;
        // The member's size bounds the total of an intact image; a member without a usable size
        // leaves the bar where it is instead of dividing by zero.
        const uint64_t done
            = memberSize == 0 ? 0 : std::min(total, memberSize) * progressSpan / memberSize;
        if (context.progress)
            context.progress(int(progressFrom + done));

        const int rc = writeSection(context, section);
        if (rc < 0)
            return rc;
    }

    const int rc
        = ramTransfer(context.handle, ControlRequest::VendorOut, image.entryPoint, nullptr, 0);
    if (rc < 0) {
        context.error(QCoreApplication::translate("Worker", "Error: failed to start microcode: %1")
                          .arg(usbErrorName(rc)));
        return rc;
    }
    return 0;
}

int loadFx3BootImage(const FlashContext &context, const std::string &member, ZipArchive &archive)
{
    Fx3BootImage image;
    if (readFx3BootImage(archive, member, image, context.error) < 0)
        return -1;
    return downloadFx3BootImage(context, image, archive.stat(member).size);
}
