#pragma once

#include "errorreporter.h"
#include "producttable.h"
#include "ziparchive.h"

// Which update steps a package allows.
struct PackageMembers {
    // The FPGA image, the microcode and the sandbox are all missing: only the EDID step runs.
    bool skipFirmware = false;
    // The product's EDID file is in the package.
    bool updateEdid = false;
};

// Checks that `archive` holds what an update of `product` needs: the three images, or the
// EDID file alone. Returns 0 with `members` filled in, or -1 after passing the list of missing
// images to `report`.
int checkPackageMembers(ZipArchive &archive, const ProductInfo &product, PackageMembers &members,
    const ErrorReporter &report);
