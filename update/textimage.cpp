#include "textimage.h"

#include <iostream>
#include <sstream>
#include <string>

namespace {

constexpr std::size_t headerLines = 3;
constexpr std::size_t bytesPerLine = 16;
constexpr std::size_t blockSize = 128;
constexpr std::size_t linesPerBlock = blockSize / bytesPerLine;
constexpr std::size_t maxDataLines = textImageMaxBytes / bytesPerLine;

enum class LineRead { Line, End, TooLong };

// Like std::getline, but takes every character, the newline included, out of `budget`, so a
// text without newlines cannot grow the line without limit.
LineRead readLine(std::istream &in, std::string &line, std::size_t &budget)
{
    line.clear();
    bool any = false;
    char c;
    while (in.get(c)) {
        any = true;
        if (budget == 0)
            return LineRead::TooLong;
        --budget;
        if (c == '\n')
            return LineRead::Line;
        line.push_back(c);
    }
    return any ? LineRead::Line : LineRead::End;
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The hexadecimal number that starts at `pos` after white space, with an optional 0x prefix;
// `pos` moves past it. False when the text there is no number or one wider than 32 bits.
bool readNumber(const std::string &text, std::size_t &pos, uint32_t &value)
{
    while (pos < text.size() && isSpace(text[pos]))
        ++pos;
    std::size_t p = pos;
    if (p + 2 < text.size() && text[p] == '0' && (text[p + 1] == 'x' || text[p + 1] == 'X')
        && hexDigit(text[p + 2]) >= 0)
        p += 2;
    if (p >= text.size() || hexDigit(text[p]) < 0)
        return false;
    uint64_t number = 0;
    for (; p < text.size() && hexDigit(text[p]) >= 0; ++p) {
        number = number * 16 + uint64_t(hexDigit(text[p]));
        if (number > UINT32_MAX)
            return false;
    }
    pos = p;
    value = uint32_t(number);
    return true;
}

// One diagnostic line, written whole, then the failed result.
TextImage fail(int32_t status, const std::string &message)
{
    std::cerr << message << std::endl;
    return TextImage {{}, status};
}

TextImage formatError(const char *text, std::size_t lineNumber)
{
    return fail(TextImage::FormatError, text + std::to_string(lineNumber));
}

} // namespace

TextImage parseTextImage(std::istream &in)
{
    TextImage image;
    // Most images are one or two EDID blocks.
    image.data.reserve(2 * blockSize);

    std::size_t budget = textImageMaxTextSize;
    std::string line;
    for (std::size_t i = 0; i < headerLines; ++i) {
        if (readLine(in, line, budget) == LineRead::TooLong)
            return formatError("Error: text too long, line: ", i + 1);
    }

    std::size_t dataLines = 0;
    for (;;) {
        const LineRead read = readLine(in, line, budget);
        if (read == LineRead::End)
            break;
        const std::size_t lineNumber = dataLines + headerLines + 1;
        if (read == LineRead::TooLong)
            return formatError("Error: text too long, line: ", lineNumber);
        if (dataLines == maxDataLines)
            return formatError("Error: too many lines, line: ", lineNumber);

        // The label before the bar, usually the offset of the line's first byte, is free.
        std::size_t pos = line.find('|');
        if (pos == std::string::npos)
            return formatError("Error: vertical delimiter (|) not found, line: ", lineNumber);
        ++pos;

        std::size_t stored = 0;
        uint32_t value = 0;
        // Whatever follows the sixteenth number and does not start like a number (a second bar
        // and an ASCII column, say) is a comment.
        while (readNumber(line, pos, value)) {
            if (stored == bytesPerLine)
                return formatError("Error: line overflow, line ", lineNumber);
            if (image.data.size() == image.data.capacity())
                image.data.reserve(image.data.capacity() + blockSize);
            image.data.push_back(uint8_t(value & 0xFF));
            ++stored;
        }
        if (stored < bytesPerLine)
            return formatError("Error: line underflow, line: ", lineNumber);
        ++dataLines;
    }

    if (dataLines == 0 || dataLines % linesPerBlock != 0)
        return fail(TextImage::FormatError,
            "Unexpected lines count: " + std::to_string(dataLines) + ", should be dividable by 8");

    // Every block passed so far sums to 0, so a running sum checks each block on its own.
    uint8_t sum = 0;
    for (std::size_t i = 0; i < image.data.size(); ++i) {
        sum = uint8_t(sum + image.data[i]);
        if ((i + 1) % blockSize != 0 || sum == 0)
            continue;
        const uint8_t stored = image.data[i];
        const uint8_t expected = uint8_t(stored - sum);
        std::ostringstream message;
        message << "Checksum of the block " << i / blockSize << " mismatch, expected: 0x"
                << std::hex << unsigned(expected) << ", readed: 0x" << unsigned(stored);
        return fail(TextImage::ChecksumError, message.str());
    }
    return image;
}
