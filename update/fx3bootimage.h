#pragma once

#include "errorreporter.h"
#include "ziparchive.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The largest section of a boot image that is accepted. The FX3's RAM is far smaller, so no
// real image comes close.
inline constexpr std::size_t fx3SectionBufferBytes = std::size_t(2) << 20;
// The largest boot image member that is read at all: the whole member is held in memory while
// it is parsed, and the FX3 has 512 KiB of RAM, so anything near this is not a boot image.
inline constexpr std::size_t fx3BootImageMaxBytes = std::size_t(4) << 20;

// One section of a boot image: its load address and its data, whole 32-bit words.
struct Fx3BootSection {
    uint32_t address = 0;
    std::vector<uint8_t> data;
};

// A boot image whose layout and checksum have been verified: its sections in file order and
// the address it starts at.
struct Fx3BootImage {
    std::vector<Fx3BootSection> sections;
    uint32_t entryPoint = 0;
};

// Parses the `size` bytes at `bytes` as an FX3 boot image: the signature "CY", two bytes of
// image control and type, sections of length in 32-bit words, load address and data, ended by
// a section of length 0 whose address is the entry point, then the sum of all data words
// modulo 2^32. Bytes after that sum are ignored, as the boot ROM ignores them. Returns 0 with
// `image` filled in, or -1 after passing exactly one text to `error` (a wrong signature, an
// image that ends early, a section longer than fx3SectionBufferBytes, a checksum that does not
// match, or more than fx3BootImageMaxBytes in all); `image` is left empty then.
int parseFx3BootImage(
    const uint8_t *bytes, std::size_t size, Fx3BootImage &image, const ErrorReporter &error);

// Reads the boot image `member` of `archive` into memory, at most fx3BootImageMaxBytes of it,
// and parses it as parseFx3BootImage does. Also reports a member that cannot be opened or read
// or that is larger than the bound; returns 0 or -1 as parseFx3BootImage. Nothing touches a
// device, so an update can refuse a damaged sandbox before its first flash request.
int readFx3BootImage(ZipArchive &archive, const std::string &member, Fx3BootImage &image,
    const ErrorReporter &error);
