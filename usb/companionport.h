#pragma once

#include <cstdint>
#include <optional>
#include <vector>

// A place on the bus: the bus number and the port numbers from the root hub down.
struct PortLocation {
    uint8_t busNumber = 0;
    std::vector<uint8_t> portPath;

    bool operator==(const PortLocation &other) const
    {
        return busNumber == other.busNumber && portPath == other.portPath;
    }
};

// The SuperSpeed companion of a USB port. A USB 3 port is two ports to the host: a high-speed
// one on the USB 2 root hub's bus and its companion on the USB 3 root hub's bus, with another
// bus number and, below hubs, possibly another path. A device that restarts at the other
// speed (the FX3 boot loader runs at high speed, the microcode it starts may connect at
// SuperSpeed) comes back on the companion. Empty when the port has none or the platform
// cannot tell.
//
// A platform seam like libusb itself: Linux reads the port's "peer" link in sysfs, Windows has
// nothing, the tests ask the virtual bus's hub model (see usbports_impl).
std::optional<PortLocation> usb_companion_port(const PortLocation &port);
