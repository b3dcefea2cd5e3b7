#pragma once

#include "flashcontext.h"
#include "fx3bootimage.h"
#include "ziparchive.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The FX3 boot loader's RAM access request: a write (OUT) or read-back (IN) at the address in
// wValue (bits 0-15) and wIndex (bits 16-31); a write without data starts the program there.
inline constexpr uint8_t fx3RamAccessRequest = 0xA0;
// The most one RAM request carries, the size of the boot loader's own transfer buffer.
inline constexpr std::size_t fx3RamChunkBytes = 4096;

// Downloads `image` into the RAM of a device in a repair state section by section, each chunk
// written and read back before the next one goes out, and starts it at its entry point.
// Progress goes from 2 to 15 with the bytes downloaded, as a share of `memberSize` (the stat
// size of the member the image was read from; 0 leaves the bar where it is). Returns 0 once
// the start request went out, or a negative result after reporting the failure; nothing is
// started unless every chunk came back as it was written.
int downloadFx3BootImage(
    const FlashContext &context, const Fx3BootImage &image, uint64_t memberSize);

// Reads the FX3 boot image `member` of `archive` (see readFx3BootImage) and, only when the
// whole image parsed and its checksum matched, downloads and starts it as downloadFx3BootImage
// does. A damaged member is reported before the first request, so nothing reaches the device.
int loadFx3BootImage(const FlashContext &context, const std::string &member, ZipArchive &archive);
