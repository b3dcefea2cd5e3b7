#pragma once

#include "errorreporter.h"
#include "flashcontext.h"
#include "ziparchive.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The longest data stage one control transfer can carry on this system, and so the largest
// EDID the upload can send.
std::size_t controlTransferLimit();

// The refusal of an EDID of `size` bytes, longer than controlTransferLimit().
QString edidTooLargeText(std::size_t size);

// Parses the EDID text member `member` of `archive` and writes its bytes to the device in one
// request between opening and closing EDID access (0xCF, 0xD2, 0xD4; 10 s timeouts). Nothing
// is sent unless the whole text parsed cleanly. Progress from `start` to `end` in five equal
// steps. Returns the closing request's result, or -1 after reporting the failure.
int uploadEdid(const FlashContext &context, int start, int end, const std::string &member,
    ZipArchive &archive);

// Reads and parses the EDID text member `member` of `archive` into `image`, echoing the text
// to std::cerr. Returns 0, or -1 after passing the reason to `error`; nothing touches a device,
// so an update can check the EDID before it flashes anything.
int readEdidImage(const ErrorReporter &error, const std::string &member, ZipArchive &archive,
    std::vector<uint8_t> &image);

// uploadEdid for an image readEdidImage has already read: the same progress steps and requests.
int sendPreparedEdid(
    const FlashContext &context, int start, int end, const std::vector<uint8_t> &image);

// The device side of uploadEdid, for an image that is already decoded: refuses an image that
// does not fit one control transfer, then opens EDID access, writes `image` and closes access,
// reporting the last four of uploadEdid's five progress steps. Same result as uploadEdid.
int sendEdid(const FlashContext &context, int start, int end, const std::vector<uint8_t> &image);
