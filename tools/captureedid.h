#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The EDID a capture device shows its sources: a base block (EDID 1.3, maker "LMX", preferred
// timing 1920x1080 at 60 Hz, range limits, the monitor name `monitorName` of at most 13
// characters) and a CEA-861 extension (video data block led by VIC 16, 2-channel LPCM audio, a
// 1280x720 at 60 Hz timing), both blocks with their checksums.
std::vector<uint8_t> captureEdid(const std::string &monitorName, uint16_t productCode);
