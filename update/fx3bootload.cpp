#include "fx3bootload.h"

#include "controlrequest.h"
#include "usberrortext.h"

#include <QCoreApplication>
#include <QDebug>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// "CY" read as a little-endian u16.
constexpr uint16_t imageSignature = 0x5943;
// The download takes the progress from 2 to 15; the flashing steps after the restart go on
// from 15.
constexpr uint64_t progressFrom = 2;
constexpr uint64_t progressSpan = 13;

uint32_t littleEndian32(const uint8_t *bytes)
{
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16
        | uint32_t(bytes[3]) << 24;
}

// Reads what the boot image holds front to back. A member that ends early, or whose reading
// fails, is reported here once; the download then stops before anything more goes to the
// device.
class ImageReader
{
public:
    ImageReader(ZipFile &file, const ErrorReporter &error)
        : file_(file)
        , error_(error)
    {
    }

    bool read(uint8_t *buffer, std::size_t length)
    {
        std::size_t done = 0;
        while (done < length) {
            const int64_t count = file_.read(buffer + done, length - done);
            if (count < 0) {
                error_(QCoreApplication::translate(
                    "Worker", "Error: failed to read sandbox microcode: %1")
                           .arg(QString::fromLocal8Bit(file_.errorString().c_str())));
                return false;
            }
            if (count == 0) {
                error_(QCoreApplication::translate(
                    "Worker", "Error: sandbox microcode image is truncated"));
                return false;
            }
            done += std::size_t(count);
        }
        return true;
    }

    bool readWord(uint32_t &word)
    {
        uint8_t bytes[4];
        if (!read(bytes, sizeof bytes))
            return false;
        word = littleEndian32(bytes);
        return true;
    }

private:
    ZipFile &file_;
    const ErrorReporter &error_;
};

int ramTransfer(libusb_device_handle *handle, uint8_t requestType, uint32_t address, uint8_t *data,
    std::size_t length)
{
    return libusb_control_transfer(handle, requestType, fx3RamAccessRequest,
        uint16_t(address & 0xFFFF), uint16_t(address >> 16), data, uint16_t(length),
        ControlRequest::TimeoutMs);
}

// Writes one section chunk by chunk, reading each chunk back before the next one goes out, so
// a RAM or transfer fault is caught at the chunk that suffered it.
int writeSection(const FlashContext &context, uint32_t address, uint8_t *data, std::size_t length,
    std::vector<uint8_t> &readBack)
{
    for (std::size_t offset = 0; offset < length;) {
        const std::size_t chunk = std::min(fx3RamChunkBytes, length - offset);
        int rc
            = ramTransfer(context.handle, ControlRequest::VendorOut, address, data + offset, chunk);
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
            || std::memcmp(readBack.data(), data + offset, chunk) != 0) {
            context.error(QCoreApplication::translate("Worker", "Fail to verify image"));
            return -1;
        }
        address += uint32_t(chunk);
        offset += chunk;
    }
    return 0;
}

} // namespace

int loadFx3BootImage(const FlashContext &context, const std::string &member, ZipArchive &archive)
{
    ZipFile file = archive.openFile(member);
    if (!file.isOpen()) {
        qDebug() << "Can't open file";
        // Without a message the window would take the failed repair for a finished update.
        context.error(
            QCoreApplication::translate("Worker", "Error: failed to open sandbox microcode: %1")
                .arg(QString::fromUtf8(member.c_str())));
        return -1;
    }
    const uint64_t size = archive.stat(member).size;

    uint8_t signature[2] = {};
    if (file.read(signature, sizeof signature) != int64_t(sizeof signature)
        || uint16_t(signature[0] | signature[1] << 8) != imageSignature) {
        context.error(
            QCoreApplication::translate("Worker", "Error: failed to verify microcode signature"));
        return -1;
    }

    ImageReader reader(file, context.error);
    uint8_t imageControl[2];
    if (!reader.read(imageControl, sizeof imageControl))
        return -1;

    std::vector<uint8_t> section(fx3SectionBufferBytes);
    std::vector<uint8_t> readBack(fx3RamChunkBytes);
    uint32_t checksum = 0;
    uint64_t total = 0;
    uint32_t entryPoint = 0;
    for (;;) {
        uint32_t words = 0;
        uint32_t address = 0;
        if (!reader.readWord(words) || !reader.readWord(address))
            return -1;
        if (words == 0) {
            entryPoint = address;
            break;
        }
        const uint64_t bytes = uint64_t(words) * 4;
        if (bytes > section.size()) {
            context.error(QCoreApplication::translate(
                "Worker", "Error: microcode section at 0x%1 is too long: %2 bytes, at most %3")
                              .arg(QString::number(address, 16))
                              .arg(bytes)
                              .arg(section.size()));
            return -1;
        }
        if (!reader.read(section.data(), std::size_t(bytes)))
            return -1;
        for (std::size_t at = 0; at < bytes; at += 4)
            checksum += littleEndian32(section.data() + at);

        qDebug().nospace().noquote()
            << "Write chunk, addr 0x" << QString::number(address, 16) << ", len=" << bytes;
        total += bytes;
        // The stat size bounds the total of an intact image; a member without a usable size
        // leaves the bar where it is instead of dividing by zero.
        const uint64_t done = size == 0 ? 0 : std::min(total, size) * progressSpan / size;
        if (context.progress)
            context.progress(int(progressFrom + done));

        const int rc = writeSection(context, address, section.data(), std::size_t(bytes), readBack);
        if (rc < 0)
            return rc;
    }

    uint32_t expected = 0;
    if (!reader.readWord(expected))
        return -1;
    if (expected != checksum) {
        context.error(QCoreApplication::translate("Worker", "FX3 checksum error"));
        return -1;
    }

    const int rc = ramTransfer(context.handle, ControlRequest::VendorOut, entryPoint, nullptr, 0);
    if (rc < 0) {
        context.error(QCoreApplication::translate("Worker", "Error: failed to start microcode: %1")
                          .arg(usbErrorName(rc)));
        return rc;
    }
    return 0;
}
