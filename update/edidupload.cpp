#include "edidupload.h"

#include "debuglog.h"
#include "textimage.h"

#include <QCoreApplication>
#include <QDebug>

#include <algorithm>
#include <array>
#include <cstring>
#include <iostream>
#include <limits>
#include <sstream>
#include <unistd.h>

namespace {

// One EDID request, with the long timeout: the device rewrites its EEPROM inside the request.
// A refusal goes to the debug log and to the user as `failure` with the libusb code in it.
int edidRequest(const FlashContext &context, uint8_t request, uint8_t *data, uint16_t length,
    const char *failure)
{
    const int rc = sendFlashRequest(context, request, data, length, ControlRequest::EdidTimeoutMs);
    if (rc < 0) {
        qCDebug(defaultLog).noquote() << QString::fromLatin1(failure).arg(rc);
        context.error(QCoreApplication::translate("Worker", failure).arg(rc));
    }
    return rc;
}

// The step's five progress values are start + 1..5 steps; a range narrower than five
// percent gives steps of 0 and so the same value five times.
int progressStep(int start, int end)
{
    return (end - start) / 5;
}

} // namespace

std::size_t controlTransferLimit()
{
    // The control transfer's length field has 16 bits; Linux's usbfs refuses a control
    // transfer longer than a memory page, whatever the device would take.
    std::size_t limit = std::numeric_limits<uint16_t>::max();
#ifdef Q_OS_LINUX
    const long page = sysconf(_SC_PAGESIZE);
    if (page > 0 && std::size_t(page) < limit)
        limit = std::size_t(page);
#endif
    return limit;
}

QString edidTooLargeText(std::size_t size)
{
    return QCoreApplication::translate("Worker",
        "EDID data is too large to send: %1 bytes; one USB control transfer carries at most %2 "
        "bytes on this system")
        .arg(size)
        .arg(controlTransferLimit());
}

int readEdidImage(const ErrorReporter &error, const std::string &member, ZipArchive &archive,
    std::vector<uint8_t> &image)
{
    ZipFile file = archive.openFile(member);
    if (!file.isOpen()) {
        qCDebug(defaultLog) << "Can't open file";
        error(QCoreApplication::translate("Worker", "Can't open EDID file"));
        return -1;
    }
    // No EDID text comes near textImageMaxTextSize; one byte more is all it takes to see that a
    // member is not one. The bytes read are counted, not the text kept, so a member of NUL
    // bytes (which add nothing to the text) cannot keep the update reading either.
    std::string text;
    std::array<char, 4095> piece;
    uint64_t consumed = 0;
    while (consumed <= textImageMaxTextSize) {
        const std::size_t wanted
            = std::min<uint64_t>(piece.size(), textImageMaxTextSize + 1 - consumed);
        const int64_t count = file.read(piece.data(), wanted);
        if (count < 0) {
            // Parsing what came before the failure could pass a cut or damaged EDID.
            qCDebug(defaultLog).nospace() << "Can't read file: " << file.errorString().c_str();
            error(QCoreApplication::translate("Worker", "Can't read EDID file"));
            return -1;
        }
        if (count == 0)
            break;
        consumed += uint64_t(count);
        // The member is text; a NUL ends what a piece contributes.
        text.append(piece.data(), strnlen(piece.data(), std::size_t(count)));
    }
    std::cerr << text << std::endl;

    if (consumed > textImageMaxTextSize) {
        error(QCoreApplication::translate("Worker", "EDID data has incorrect format"));
        return -1;
    }
    std::istringstream in(text);
    TextImage parsed = parseTextImage(in);
    if (parsed.status == TextImage::ChecksumError) {
        error(QCoreApplication::translate("Worker", "EDID data has incorrect checksum"));
        return -1;
    }
    if (parsed.status != TextImage::Ok) {
        error(QCoreApplication::translate("Worker", "EDID data has incorrect format"));
        return -1;
    }
    if (parsed.data.empty()) {
        error(QCoreApplication::translate("Worker", "EDID data is empty"));
        return -1;
    }
    image = std::move(parsed.data);
    return 0;
}

int uploadEdid(
    const FlashContext &context, int start, int end, const std::string &member, ZipArchive &archive)
{
    std::vector<uint8_t> image;
    if (readEdidImage(context.error, member, archive, image) < 0)
        return -1;
    return sendPreparedEdid(context, start, end, image);
}

int sendPreparedEdid(
    const FlashContext &context, int start, int end, const std::vector<uint8_t> &image)
{
    context.progress(start + progressStep(start, end));
    return sendEdid(context, start, end, image);
}

int sendEdid(const FlashContext &context, int start, int end, const std::vector<uint8_t> &image)
{
    // The whole EDID goes in one control transfer.
    if (image.size() > controlTransferLimit()) {
        context.error(edidTooLargeText(image.size()));
        return -1;
    }
    const int step = progressStep(start, end);

    context.progress(start + 2 * step);
    int rc = edidRequest(context, FlashRequest::EdidIoBegin, nullptr, 0,
        QT_TRANSLATE_NOOP("Worker", "Can't initiate EDID IO access (err: %1)"));
    if (rc < 0)
        return -1;

    context.progress(start + 3 * step);
    // libusb takes the data of an outgoing transfer through a non-const pointer.
    std::vector<uint8_t> data = image;
    // A refused write leaves the access open: closing it is the device's cue to store what it
    // received, and the write did not get through.
    rc = edidRequest(context, FlashRequest::EdidWrite, data.data(), uint16_t(data.size()),
        QT_TRANSLATE_NOOP("Worker", "Can't send EDID data to the device (err: %1)"));
    if (rc < 0)
        return -1;

    context.progress(start + 4 * step);
    rc = edidRequest(context, FlashRequest::EdidIoEnd, nullptr, 0,
        QT_TRANSLATE_NOOP("Worker", "Can't finalize EDID IO access (err: %1)"));
    if (rc < 0)
        return -1;

    context.progress(start + 5 * step);
    return rc;
}
