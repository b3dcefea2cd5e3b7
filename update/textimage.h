#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <vector>

// A binary image decoded from its text form: three header lines, then lines of a label, a
// vertical bar and sixteen hexadecimal bytes, eight lines to a 128-byte block whose bytes sum
// to 0 modulo 256 (the layout of EDID blocks).
struct TextImage {
    enum Status : int32_t {
        Ok = 0,
        FormatError = 1, // delimiter, line length, line count or size
        ChecksumError = 2,
    };

    std::vector<uint8_t> data; // empty unless status is Ok
    int32_t status = Ok;
};

// The largest image accepted: an E-EDID of block 0 and 255 extension blocks. It also keeps the
// image within the 16-bit length of the one control transfer that carries it to the device.
inline constexpr std::size_t textImageMaxBytes = 256 * 128;

// The most text the parser reads, newlines included: far more than the largest image needs
// even with long labels and comments. Longer input is a format error, so a caller that reads
// a file into memory first can stop after textImageMaxTextSize + 1 bytes.
inline constexpr std::size_t textImageMaxTextSize = std::size_t(1) << 20;

// Decodes the text read from `in` to its end. Never throws for bad input: a problem gives a
// non-zero status and one diagnostic line on std::cerr.
TextImage parseTextImage(std::istream &in);
