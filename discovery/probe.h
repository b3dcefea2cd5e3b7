#pragma once

#include "devicedescription.h"

#include <libusb.h>

// What probing one device came to, and what the scanner makes of it.
enum class ProbeResult : int {
    Success = 0, // the description is filled: report the device
    DriverInstalled = 1, // unusable for now, but the driver went in: enumerate again
    Error = 2, // not reported
    AccessDenied = 3, // installing the driver needs administrator rights
};

// A probe looks at one device whose ids the probe table matched, opens it and, when it is
// what the table says, fills `desc` (which the caller hands over zero-filled). The handle it
// opens is always closed again before it returns; `desc.device` is never set.
using ProbeFunction = ProbeResult (*)(libusb_device *device, DeviceDescription &desc);

// A capture device running its application firmware: reads product, serial and version,
// claims interface 0 and pings it; only a device that answers is reported.
ProbeResult probeCaptureDevice(libusb_device *device, DeviceDescription &desc);
// The firmware of this product has no preserve-aspect-ratio flag.
ProbeResult probeCaptureDeviceNoAspect(libusb_device *device, DeviceDescription &desc);
// The firmware of this product has the audio selector.
ProbeResult probeCaptureDeviceWithAudio(libusb_device *device, DeviceDescription &desc);

// A device whose application firmware is gone; its FX3 waits for a RAM image. Nothing is
// claimed or sent: the state is told by the product id alone.
ProbeResult probeSoftRepair(libusb_device *device, DeviceDescription &desc);
// The sandbox microcode running from RAM. It enumerates like a soft-repair device but takes
// the flashing requests directly.
ProbeResult probeDirectUpdate(libusb_device *device, DeviceDescription &desc);
// The bare FX3 ROM boot loader.
ProbeResult probeHardRepair(libusb_device *device, DeviceDescription &desc);
