#include "fx3bootimage.h"
#include "quietlogs.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// The sandbox boot image as the repair downloads it: one report for a refused image, none for
// an accepted one, and an accepted image is whole words that fit in what it was parsed from.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    quietLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    int reports = 0;
    Fx3BootImage image;
    const int rc = parseFx3BootImage(data, size, image, [&](const QString &) { ++reports; });
    if (rc < 0) {
        if (reports != 1 || !image.sections.empty() || image.entryPoint != 0)
            std::abort();
        return 0;
    }
    if (reports != 0)
        std::abort();
    std::size_t total = 16; // signature, control and type, terminating section, checksum
    for (const Fx3BootSection &section : image.sections) {
        if (section.data.empty() || section.data.size() % 4 != 0
            || section.data.size() > fx3SectionBufferBytes)
            std::abort();
        total += 8 + section.data.size();
    }
    if (total > size)
        std::abort();
    return 0;
}
