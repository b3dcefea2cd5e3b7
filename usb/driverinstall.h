#pragma once

#include <string>

// Installs the WinUSB driver package from the "driver" folder of the current directory so that
// a device which refused to open can be opened. Returns 0 when installed, -2 when refused for
// lack of administrator rights, -1 on any other failure.
//
// On Linux no driver is installed: access is granted by the udev rule in packaging/linux.
// There the call returns -2 while the process is not root and the rule is missing (an
// administrator has to install it), and -1 otherwise.
int install_winusb_driver();

// One line for the user on why the device at `address` on bus `bus` could not be opened, when
// the platform can tell more than the failure itself; empty otherwise. Linux looks at the
// device node, the udev rule and the session (udevaccess.h); Windows has nothing to add. The
// access texts carry it as their second line (accesshinttext.h).
std::string usb_access_hint(int bus, int address);
