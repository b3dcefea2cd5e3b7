#pragma once

#include "flashcontext.h"
#include "ziparchive.h"

#include <cstdint>
#include <string>
#include <vector>

// Parses the EDID text member `member` of `archive` and writes its bytes to the device in one
// request between opening and closing EDID access (0xCF, 0xD2, 0xD4; 10 s timeouts). Nothing
// is sent unless the whole text parsed cleanly. Progress from `start` to `end` in five equal
// steps. Returns the closing request's result, or -1 after reporting the failure.
int uploadEdid(const FlashContext &context, int start, int end, const std::string &member,
    ZipArchive &archive);

// The device side of uploadEdid, for an image that is already decoded: refuses an image that
// does not fit one control transfer, then opens EDID access, writes `image` and closes access,
// reporting the last four of uploadEdid's five progress steps. Same result as uploadEdid.
int sendEdid(const FlashContext &context, int start, int end, const std::vector<uint8_t> &image);
