#pragma once

#include <cstdint>

// Conventions shared by every vendor request the tool sends: the default control endpoint,
// recipient device, vendor type.
namespace ControlRequest {
constexpr uint8_t VendorOut = 0x40; // host to device, vendor, device recipient
constexpr uint8_t VendorIn = 0xC0; // device to host, vendor, device recipient
constexpr unsigned TimeoutMs = 1000;
// Writing the EDID makes the device rewrite its EEPROM inside the request, which takes far
// longer than an ordinary request.
constexpr unsigned EdidTimeoutMs = 10000;
} // namespace ControlRequest
