#pragma once

#include "flashcontext.h"
#include "ziparchive.h"

#include <QString>

#include <cstdint>
#include <string>

// The text for microcode that is not whole 32-bit words; `chunkLength` is the odd chunk's.
QString fx3AlignmentText(uint64_t chunkLength);

// Writes the FX3 microcode member `member` of `archive` into the device's flash (requests
// 0xC5, 0xC6, 0xC7 with status polls 0xC8), reporting progress from `start` to `end`.
// The microcode is flashed in 32-bit words, so a member of any other size is refused before
// anything is sent. Returns 0, or a negative result after reporting the failure.
int flashFx3Microcode(const FlashContext &context, int start, int end, const std::string &member,
    ZipArchive &archive);
