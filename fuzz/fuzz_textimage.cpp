#include "quietlogs.h"
#include "textimage.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

// The EDID text of a package: any bytes must give a status, and an image only when it is whole
// blocks that each sum to 0.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    quietLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    std::istringstream in(std::string(reinterpret_cast<const char *>(data), size));
    const TextImage image = parseTextImage(in);
    if (image.status != TextImage::Ok) {
        if (!image.data.empty())
            std::abort();
        return 0;
    }
    if (image.data.empty() || image.data.size() % 128 != 0 || image.data.size() > textImageMaxBytes)
        std::abort();
    for (std::size_t block = 0; block < image.data.size(); block += 128) {
        uint8_t sum = 0;
        for (std::size_t i = 0; i < 128; ++i)
            sum = uint8_t(sum + image.data[block + i]);
        if (sum != 0)
            std::abort();
    }
    return 0;
}
