#pragma once

#include "flashcontext.h"
#include "ziparchive.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The FX3 boot loader's RAM access request: a write (OUT) or read-back (IN) at the address in
// wValue (bits 0-15) and wIndex (bits 16-31); a write without data starts the program there.
inline constexpr uint8_t fx3RamAccessRequest = 0xA0;
// The largest section of a boot image that is accepted: the whole section is held in memory
// before it goes to the device. The FX3's RAM is far smaller, so no real image comes close.
inline constexpr std::size_t fx3SectionBufferBytes = std::size_t(2) << 20;
// The most one RAM request carries, the size of the boot loader's own transfer buffer.
inline constexpr std::size_t fx3RamChunkBytes = 4096;

// Downloads the FX3 boot image `member` of `archive` (signature "CY", two bytes of image
// control and type, sections of length in words, load address and data, ended by a section of
// length 0 whose address is the entry point, then the sum of all data words) into the RAM of
// a device in a repair state, reading every chunk back, and starts it at its entry point.
// Progress goes from 2 to 15 with the bytes downloaded. Returns 0 once the start request went
// out, or a negative result after reporting the failure; nothing is started unless the whole
// image arrived intact and its checksum matched.
int loadFx3BootImage(const FlashContext &context, const std::string &member, ZipArchive &archive);
