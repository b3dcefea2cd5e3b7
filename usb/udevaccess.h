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

// Why a device node refuses this user, told from facts about the node, the rule and the
// session rather than from the rule file's name alone.
namespace UdevAccess {

struct AccessFacts {
    bool ruleInstalled = false; // RuleFileName in one of the rule folders
    bool nodeExists = false; // /dev/bus/usb/BBB/DDD
    bool nodeAccessible = false; // access(node, R_OK | W_OK) succeeds
    bool nodeGroupPlugdev = false; // the node belongs to the plugdev group
    bool userInPlugdev = false; // the group database puts this user in plugdev
    bool processInPlugdev = false; // this process runs with plugdev among its groups
    // The session is at a local seat: the rule's uaccess grants the node to the user of the
    // seat's active session, never to an SSH login.
    bool localSeat = false;
};

enum class AccessCause {
    Granted, // the node can be opened: the failure lies elsewhere
    NodeMissing, // nothing at the address any more: unplugged or restarted
    RuleMissing,
    NotGranted, // rule installed, but neither at the seat nor in plugdev
    LogInAgain, // in plugdev since this session started: its groups are the old ones
    Other,
};

AccessCause accessCause(const AccessFacts &facts);
// One line for the user; empty for Granted. `node` is the path shown.
std::string accessHintText(AccessCause cause, const std::string &node);
// "/dev/bus/usb/BBB/DDD".
std::string nodePath(int bus, int address);
// The facts about `node` read under `root` (systemroot.h), the rule folders too, and from
// this process and its environment.
AccessFacts gatherAccessFacts(const std::string &root, const std::string &node);

} // namespace UdevAccess
