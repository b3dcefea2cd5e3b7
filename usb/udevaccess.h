#pragma once

#include <string>
#include <vector>

// The Linux side of driver installation. Linux needs no driver for the devices; what it needs
// is permission to open them, which the udev rule file grants to the logged-in user.
namespace UdevAccess {

// Name of the rule file that packaging/linux installs.
extern const char RuleFileName[];

// The folders udev reads rule files from.
std::vector<std::string> ruleDirectories();

// The decision behind install_winusb_driver on Linux: -2 (an administrator must install the
// rule) when the process is not root and no folder holds the rule file, -1 otherwise: either
// the rule is there and the device still refuses, or root was refused, and installing
// anything would not help.
int installResult(bool isRoot, const std::vector<std::string> &directories);

} // namespace UdevAccess
