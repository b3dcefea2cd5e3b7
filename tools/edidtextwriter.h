#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The text form in which packages carry an EDID: three header lines (free text; `title` goes
// into the first), then per 16 bytes a line of the offset, a vertical bar and the bytes in
// hexadecimal, each line ended by a newline.
std::string edidText(const std::vector<uint8_t> &bytes, const std::string &title);
