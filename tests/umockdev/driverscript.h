#pragma once

#include <vector>

// The tier's own install_winusb_driver (usb/driverinstall.h), compiled into each of its
// executables so that the real one is never linked: it hands out scripted results in order,
// -1 (a plain failure, what Linux answers a root process) once the script is used up, and
// counts its calls. The machines that run the tests may have the udev rule installed or not
// and run as root; neither may decide what a test sees.
namespace tier {

void scriptDriverInstall(std::vector<int> results);
int driverInstallCalls();

} // namespace tier
