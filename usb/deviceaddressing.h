#pragma once

#include "devicedescription.h"

#include <libusb.h>

// Records where `device` sits on the bus (ids, bus, address, port path, parent) in `desc`.
// Returns 0, or the negative libusb code of the failed descriptor read; then `desc` is
// unchanged. No other field is touched.
int device_addressing_fill(libusb_device *device, DeviceDescription &desc);

// True when `device` is the one `wanted` addresses: same ids, bus, port path and parent
// presence, and the same address unless either address is negative (any).
bool device_addressing_match(libusb_device *device, const DeviceDescription &wanted);
