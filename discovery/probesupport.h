#pragma once

#include "probe.h"

#include <QString>
#include <libusb.h>

#include <optional>

// Helpers the probes share; not part of the library's interface.
namespace probesupport {

// Serial of a device that has none, or whose serial cannot be read.
extern const char NoSerial[];
// Version of application firmware whose version string cannot be read.
extern const char NoVersion[];

// A device that refuses to open (or, for a capture device, to be claimed) usually lacks the
// WinUSB driver: libusb on Windows answers "not supported" for a device bound to a driver it
// cannot use. The driver is then installed and the scanner enumerates again. The repair-state
// probes act on "not supported" only when `allowUnsupported` says so. Returns nothing for a
// successful `code`, or for "not supported" without `allowUnsupported`; otherwise the outcome
// of the installation.
std::optional<ProbeResult> openFailureFallback(int code, bool allowUnsupported);

// String descriptor `index` in ASCII, or `fallback` when the index is 0 or the read fails.
QString readString(libusb_device_handle *handle, uint8_t index, const char *fallback);

// The two string ids of the device descriptor, on the debug output.
void logStringIds(const libusb_device_descriptor &descriptor);

} // namespace probesupport
