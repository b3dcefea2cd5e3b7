#pragma once

#include "companionport.h"

#include <string>

// How Linux shows USB ports in sysfs. Every hub's interface folder holds a folder per port,
// and a port of a USB 3 hub links to its companion on the other bus with "peer":
//   /sys/bus/usb/devices/usb1/1-0:1.0/usb1-port3/peer -> .../usb2/2-0:1.0/usb2-port3
//   /sys/bus/usb/devices/1-3/1-3:1.0/1-3-port2/peer   -> .../2-3/2-3:1.0/2-3-port2
namespace SysfsPorts {

// The folder of `port` (its last number on the hub its path leads to), under `devicesDir`
// (normally /sys/bus/usb/devices). Empty for an empty path.
std::string portDirectory(const std::string &devicesDir, const PortLocation &port);

// The port a port folder's name stands for: "usb2-port3" is bus 2 path 3, "2-3.1-port4" bus 2
// path 3.1.4. Empty for any other name.
std::optional<PortLocation> parsePortName(const std::string &name);

// The companion of `port` by its "peer" link under `devicesDir`; empty without one.
std::optional<PortLocation> companionIn(const std::string &devicesDir, const PortLocation &port);

} // namespace SysfsPorts
