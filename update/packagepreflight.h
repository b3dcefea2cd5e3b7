#pragma once

#include "errorreporter.h"
#include "fx3bootimage.h"
#include "packagecheck.h"
#include "producttable.h"
#include "ziparchive.h"

#include <cstdint>
#include <vector>

// What an update run will write, read and checked before the first request goes to the
// device: a package that would be refused half-way, with part of the device's flash already
// rewritten, is refused before anything is written instead.
struct PreparedPackage {
    std::vector<uint8_t> edid; // the decoded EDID, when the package updates it
    Fx3BootImage sandbox; // the verified sandbox microcode, for a repair
    uint64_t sandboxMemberSize = 0;
};

// Checks the members the steps of `members` will write, in the order the steps write them: for
// a `repair`, the whole sandbox microcode (read and verified, as the download would); then the
// microcode (it opens, is not empty, its size is whole 32-bit words, as the device flashes
// it), the FPGA image (it opens, is not empty, and its size fits the 32-bit size of its
// header), and the EDID (it parses and fits one control transfer). The microcode and the FPGA
// image are read to their end through the reader their steps use, a piece at a time, so a
// member whose data disagrees with the package's directory (CRC, length, a broken deflate
// stream) is found here and not half-way through the flash. Reports the first fault with the
// text the step itself gives for it and returns -1; returns 0 with `prepared` filled in
// otherwise.
int preflightPackage(ZipArchive &archive, const ProductInfo &product, const PackageMembers &members,
    bool repair, PreparedPackage &prepared, const ErrorReporter &error);
