#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// The FX3's system RAM, 512 KiB, where the sandbox image's sections are loaded.
inline constexpr uint32_t fx3RamStart = 0x40000000;
inline constexpr uint32_t fx3RamEnd = 0x40080000;

// Made-up firmware images for the product `productId`: the same bytes on every run, different
// for each product, and incompressible like real firmware.

// Whole 32-bit words, but not whole 4096-byte chunks, so the last flash write is short.
Bytes sampleMicrocode(const std::string &productId);
// Not whole 4096-byte chunks either.
Bytes sampleFpgaImage(const std::string &productId);
// An FX3 boot image: "CY", image control and type, a code section that spans two RAM chunks and
// a data section, the entry point, and the sum of all data words.
Bytes sampleBootImage(const std::string &productId);
