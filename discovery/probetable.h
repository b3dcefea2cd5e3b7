#pragma once

#include "probe.h"

#include <array>
#include <cstdint>

struct ProbeEntry {
    uint16_t vendorId;
    uint16_t productId;
    ProbeFunction probe;
};

// Every USB id the tool recognises and how to tell what is behind it. Constant-initialised,
// so it is complete before any code runs and is read from the scanner thread without locks.
extern const std::array<ProbeEntry, 17> probeTable;

// The first entry with both ids, or null for a device the tool does not handle.
const ProbeEntry *findProbe(uint16_t vendorId, uint16_t productId);
