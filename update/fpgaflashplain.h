#pragma once

#include "flashcontext.h"
#include "ziparchive.h"

#include <string>

// Writes the FPGA image `member` of `archive` as it is stored (requests 0xC1, 0xC2, 0xC3 with
// status polls 0xC4), reporting progress from `start` to `end`. Returns the completion
// request's result, or a negative result after reporting the failure.
int flashFpgaPlain(const FlashContext &context, int start, int end, const std::string &member,
    ZipArchive &archive);
