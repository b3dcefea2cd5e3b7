#pragma once

#include "flashcontext.h"
#include "ziparchive.h"

#include <string>

// Parses the EDID text member `member` of `archive` and writes its bytes to the device in one
// request between opening and closing EDID access (0xCF, 0xD2, 0xD4; 10 s timeouts). Nothing
// is sent unless the whole text parsed cleanly. Progress from `start` to `end`. Returns the
// closing request's result, or -1 after reporting the failure.
int uploadEdid(const FlashContext &context, int start, int end, const std::string &member,
    ZipArchive &archive);
