#pragma once

#include "flashcontext.h"
#include "ziparchive.h"

#include <cstdint>
#include <string>

// What the plain and the framed FPGA protocols share: the run's opening and the streaming of
// the image, in chunks, each acknowledged through the FPGA flash status.
namespace FpgaFlashRun {

// Starts a reflash run (0xC1), opens the image member and waits for the flash to be ready.
// The start goes out before the member is looked for, so a missing member leaves a started
// run behind, which the device drops with the next start. Returns 0 with `file` open and
// `size` set, or the failing result after reporting it.
int open(const FlashContext &context, const std::string &member, ZipArchive &archive, ZipFile &file,
    uint64_t &size);

struct Streamed {
    // The code of a chunk write the device refused (reported); the run still has to be
    // closed, and this code is then the step's result.
    int failedWrite = 0;
    // Non-zero: return this at once, without closing the run (reported). A status poll that
    // failed, or a package that could not be read: the loader must not commit what it got.
    int abort = 0;
    // Image bytes passed to chunk writes, a refused chunk's included.
    uint64_t passed = 0;
};

// Sends the image in chunks of flashChunkSize, each followed by a ready poll, and progress in
// `start`..`end` whenever its value changes. `crc`, when given, is updated with every chunk
// before it is sent.
Streamed stream(
    const FlashContext &context, int start, int end, ZipFile &file, uint64_t size, uint32_t *crc);

// Closes the run (0xC3) and reports a refusal. Returns the request's result.
int complete(const FlashContext &context);

} // namespace FpgaFlashRun
