#include "sampleimages.h"

namespace {

constexpr std::size_t chunkBytes = 4096;
constexpr uint32_t codeAddress = 0x40003000;
constexpr uint32_t dataAddress = 0x40040000;

uint32_t productSeed(const std::string &productId)
{
    uint32_t hash = 2166136261u; // FNV-1a
    for (const char c : productId)
        hash = (hash ^ uint8_t(c)) * 16777619u;
    return hash;
}

// xorshift32: enough to look like firmware, and no library's generator to change under us.
Bytes randomBytes(uint32_t seed, std::size_t count)
{
    uint32_t state = seed | 1;
    Bytes bytes(count);
    for (uint8_t &byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = uint8_t(state >> 24);
    }
    return bytes;
}

void appendWord(Bytes &bytes, uint32_t word)
{
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(uint8_t(word >> shift));
}

} // namespace

Bytes sampleMicrocode(const std::string &productId)
{
    const uint32_t seed = productSeed(productId);
    // Two full chunks and 64 to 575 words more: the last chunk is 256 to 2300 bytes.
    const std::size_t words = 2 * chunkBytes / 4 + 64 + seed % 512;
    return randomBytes(seed, words * 4);
}

Bytes sampleFpgaImage(const std::string &productId)
{
    const uint32_t seed = productSeed(productId);
    return randomBytes(~seed, 3 * chunkBytes + 1 + seed % 4000);
}

Bytes sampleBootImage(const std::string &productId)
{
    const uint32_t seed = productSeed(productId);
    const struct {
        uint32_t address;
        std::size_t bytes;
    } sections[] = {{codeAddress, chunkBytes + 1000 + 4 * (seed % 64)}, {dataAddress, 512}};

    // The repair reads the image control and type bytes past without looking at them.
    Bytes image {'C', 'Y', 0x1C, 0xB0};
    uint32_t sum = 0;
    for (const auto &section : sections) {
        const Bytes data = randomBytes(seed + section.address, section.bytes);
        appendWord(image, uint32_t(section.bytes / 4));
        appendWord(image, section.address);
        image.insert(image.end(), data.begin(), data.end());
        for (std::size_t at = 0; at < data.size(); at += 4)
            sum += uint32_t(data[at]) | uint32_t(data[at + 1]) << 8 | uint32_t(data[at + 2]) << 16
                | uint32_t(data[at + 3]) << 24;
    }
    appendWord(image, 0); // the terminating section: no data, its address is the entry point
    appendWord(image, codeAddress);
    appendWord(image, sum);
    return image;
}
