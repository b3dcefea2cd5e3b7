#include "fx3bootimage.h"

#include "debuglog.h"

#include <QCoreApplication>
#include <QDebug>

#include <algorithm>

namespace {

// "CY" read as a little-endian u16.
constexpr uint16_t imageSignature = 0x5943;
// The piece a member is read in: what is kept grows with what the member really holds, not
// with the size its directory entry claims.
constexpr std::size_t readPieceBytes = std::size_t(64) << 10;

uint32_t littleEndian32(const uint8_t *bytes)
{
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16
        | uint32_t(bytes[3]) << 24;
}

QString signatureText()
{
    return QCoreApplication::translate("Worker", "Error: failed to verify microcode signature");
}

QString tooLargeText(uint64_t size)
{
    return QCoreApplication::translate(
        "Worker", "Error: sandbox microcode image is too large: %1 bytes, at most %2")
        .arg(size)
        .arg(fx3BootImageMaxBytes);
}

// Takes the image apart front to back. An image that ends early is reported here once; the
// parse then stops.
class ImageCursor
{
public:
    ImageCursor(const uint8_t *bytes, std::size_t size, const ErrorReporter &error)
        : bytes_(bytes)
        , size_(size)
        , error_(error)
    {
    }

    // The next `length` bytes, or null once the image has fewer left.
    const uint8_t *take(std::size_t length)
    {
        if (length > size_ - at_) {
            error_(QCoreApplication::translate(
                "Worker", "Error: sandbox microcode image is truncated"));
            return nullptr;
        }
        const uint8_t *taken = bytes_ + at_;
        at_ += length;
        return taken;
    }

    bool takeWord(uint32_t &word)
    {
        const uint8_t *bytes = take(4);
        if (!bytes)
            return false;
        word = littleEndian32(bytes);
        return true;
    }

private:
    const uint8_t *bytes_;
    std::size_t size_;
    std::size_t at_ = 0;
    const ErrorReporter &error_;
};

} // namespace

int parseFx3BootImage(
    const uint8_t *bytes, std::size_t size, Fx3BootImage &image, const ErrorReporter &error)
{
    image = Fx3BootImage();
    if (size > fx3BootImageMaxBytes) {
        error(tooLargeText(size));
        return -1;
    }
    if (size < 2 || uint16_t(bytes[0] | bytes[1] << 8) != imageSignature) {
        error(signatureText());
        return -1;
    }

    ImageCursor cursor(bytes + 2, size - 2, error);
    if (!cursor.take(2)) // image control and type: the boot ROM's business
        return -1;
    Fx3BootImage parsed;
    uint32_t checksum = 0;
    for (;;) {
        uint32_t words = 0;
        uint32_t address = 0;
        if (!cursor.takeWord(words) || !cursor.takeWord(address))
            return -1;
        if (words == 0) {
            parsed.entryPoint = address;
            break;
        }
        // Checked before the data: a length past the end of the image is reported as too long
        // rather than as truncated, as a streaming reader would see it.
        const uint64_t length = uint64_t(words) * 4;
        if (length > fx3SectionBufferBytes) {
            error(QCoreApplication::translate(
                "Worker", "Error: microcode section at 0x%1 is too long: %2 bytes, at most %3")
                      .arg(QString::number(address, 16))
                      .arg(length)
                      .arg(fx3SectionBufferBytes));
            return -1;
        }
        const uint8_t *data = cursor.take(std::size_t(length));
        if (!data)
            return -1;
        for (std::size_t at = 0; at < length; at += 4)
            checksum += littleEndian32(data + at);
        parsed.sections.push_back({address, std::vector<uint8_t>(data, data + length)});
    }

    uint32_t expected = 0;
    if (!cursor.takeWord(expected))
        return -1;
    if (expected != checksum) {
        error(QCoreApplication::translate("Worker", "FX3 checksum error"));
        return -1;
    }
    image = std::move(parsed);
    return 0;
}

int readFx3BootImage(
    ZipArchive &archive, const std::string &member, Fx3BootImage &image, const ErrorReporter &error)
{
    image = Fx3BootImage();
    ZipFile file = archive.openFile(member);
    if (!file.isOpen()) {
        qCDebug(defaultLog) << "Can't open file";
        // Without a message the window would take the failed repair for a finished update.
        error(QCoreApplication::translate("Worker", "Error: failed to open sandbox microcode: %1")
                  .arg(QString::fromUtf8(member.c_str())));
        return -1;
    }
    const uint64_t declared = archive.stat(member).size;
    if (declared > fx3BootImageMaxBytes) {
        error(tooLargeText(declared));
        return -1;
    }

    std::vector<uint8_t> bytes;
    bytes.reserve(std::size_t(declared));
    std::vector<uint8_t> piece(readPieceBytes);
    // One byte past the bound is enough to refuse a member whose entry understated its size.
    while (bytes.size() <= fx3BootImageMaxBytes) {
        const std::size_t wanted = std::min(piece.size(), fx3BootImageMaxBytes + 1 - bytes.size());
        const int64_t count = file.read(piece.data(), wanted);
        if (count < 0) {
            // A member that does not even give its first two bytes has no signature to verify.
            if (bytes.size() < 2) {
                error(signatureText());
                return -1;
            }
            error(
                QCoreApplication::translate("Worker", "Error: failed to read sandbox microcode: %1")
                    .arg(QString::fromLocal8Bit(file.errorString().c_str())));
            return -1;
        }
        if (count == 0)
            break;
        bytes.insert(bytes.end(), piece.begin(), piece.begin() + count);
    }
    if (bytes.size() > fx3BootImageMaxBytes) {
        error(tooLargeText(std::max<uint64_t>(declared, bytes.size())));
        return -1;
    }
    return parseFx3BootImage(bytes.data(), bytes.size(), image, error);
}
