#pragma once

#include "flashcontext.h"
#include "ziparchive.h"

#include <string>

// Writes the FPGA image `member` of `archive` framed by a 12-byte header ("FPGA", size,
// CRC-32 of those 8 bytes) and a CRC-32 trailer of the image, for FPGA loaders that check
// what they receive. Progress from `start` to `end`. Returns the completion request's result,
// or a negative result after reporting the failure.
int flashFpgaFramed(const FlashContext &context, int start, int end, const std::string &member,
    ZipArchive &archive);
