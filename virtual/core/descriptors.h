#pragma once

// The standard descriptors of an emulated device, as the kernel keeps them in sysfs and as the
// device sends them on endpoint 0.

#include "usbmodel.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vcore {

// The 18-byte device descriptor of a device with `identity`, running at SuperSpeed or at high
// speed (which decides bcdUSB and the size of endpoint 0).
std::vector<uint8_t> deviceDescriptor(const vdev::Identity &identity, bool superSpeed);

// The one configuration: its descriptor, interface 0 and, for a hub, the status change
// endpoint (with its SuperSpeed companion at SuperSpeed).
std::vector<uint8_t> configurationDescriptor(bool hub, bool superSpeed);

// String descriptor 0: the one language the devices speak, US English.
std::vector<uint8_t> languageDescriptor();

// The UTF-16 code units of a string descriptor carrying `text` (UTF-8); a descriptor's length
// is one byte, so at most 126 code units fit and the rest is cut off. Invalid UTF-8 bytes become
// U+FFFD.
std::vector<uint16_t> stringUnits(const std::string &text);

// A string descriptor carrying stringUnits(text) as UTF-16LE.
std::vector<uint8_t> stringDescriptor(const std::string &text);

} // namespace vcore
