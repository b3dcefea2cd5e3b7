#include "driverinstall.h"
#include "systemroot.h"
#include "udevaccess.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace UdevAccess {

namespace {

const char PlugdevGroup[] = "plugdev";

bool envSet(const char *name)
{
    const char *value = std::getenv(name);
    return value && *value;
}

// The plugdev group's id and members from the group database; false when there is none.
// The reentrant calls: probes, requests and updates ask from their own threads.
bool plugdevGroup(gid_t &id, std::vector<std::string> &members)
{
    std::vector<char> buffer(16384);
    group entry {};
    group *found = nullptr;
    if (::getgrnam_r(PlugdevGroup, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return false;
    id = found->gr_gid;
    for (char **member = found->gr_mem; member && *member; ++member)
        members.emplace_back(*member);
    return true;
}

// This user's name and primary group, by the real user id.
bool userEntry(std::string &name, gid_t &primary)
{
    std::vector<char> buffer(16384);
    passwd entry {};
    passwd *found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return false;
    name = found->pw_name;
    primary = found->pw_gid;
    return true;
}

bool processInGroup(gid_t id)
{
    if (::getegid() == id)
        return true;
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(size_t(count > 0 ? count : 0));
    if (count > 0 && ::getgroups(count, groups.data()) == count) {
        for (gid_t group : groups) {
            if (group == id)
                return true;
        }
    }
    return false;
}

} // namespace

std::string nodePath(int bus, int address)
{
    char path[32];
    std::snprintf(path, sizeof path, "/dev/bus/usb/%03d/%03d", bus & 0xFF, address & 0xFF);
    return path;
}

AccessFacts gatherAccessFacts(const std::string &root, const std::string &node)
{
    AccessFacts facts;
    for (const std::string &directory : ruleDirectories()) {
        struct stat info {
        };
        if (::stat((root + directory + "/" + RuleFileName).c_str(), &info) == 0)
            facts.ruleInstalled = true;
    }
    const std::string path = root + node;
    struct stat info {
    };
    facts.nodeExists = ::stat(path.c_str(), &info) == 0;
    facts.nodeAccessible = facts.nodeExists && ::access(path.c_str(), R_OK | W_OK) == 0;
    gid_t plugdev = 0;
    std::vector<std::string> members;
    if (plugdevGroup(plugdev, members)) {
        facts.nodeGroupPlugdev = facts.nodeExists && info.st_gid == plugdev;
        std::string user;
        gid_t primary = 0;
        if (userEntry(user, primary)) {
            facts.userInPlugdev = primary == plugdev;
            for (const std::string &member : members)
                facts.userInPlugdev = facts.userInPlugdev || member == user;
        }
        facts.processInPlugdev = processInGroup(plugdev);
    }
    // logind's seat sessions set XDG_SEAT; an SSH login never sits at one, whatever else its
    // environment says.
    facts.localSeat = !envSet("SSH_CONNECTION") && !envSet("SSH_TTY")
        && (envSet("XDG_SEAT") || envSet("WAYLAND_DISPLAY") || envSet("DISPLAY"));
    return facts;
}

AccessCause accessCause(const AccessFacts &facts)
{
    if (!facts.nodeExists)
        return AccessCause::NodeMissing;
    if (facts.nodeAccessible)
        return AccessCause::Granted;
    // A node of the plugdev group shows that a rule gave it to the group; a member it still
    // refuses is one whose session began before joining.
    if (facts.nodeGroupPlugdev && facts.userInPlugdev && !facts.processInPlugdev)
        return AccessCause::LogInAgain;
    if (!facts.ruleInstalled)
        return AccessCause::RuleMissing;
    if (!facts.localSeat && !facts.userInPlugdev)
        return AccessCause::NotGranted;
    return AccessCause::Other;
}

std::string accessHintText(AccessCause cause, const std::string &node)
{
    switch (cause) {
    case AccessCause::Granted:
        return {};
    case AccessCause::NodeMissing:
        return "The device is no longer at " + node
            + ": it was unplugged or restarted. Scan again.";
    case AccessCause::RuleMissing:
        return std::string("The udev rule ") + RuleFileName
            + " is not installed: install it into /etc/udev/rules.d as root and reconnect "
              "the device.";
    case AccessCause::NotGranted:
        return "The udev rule gives the device to the user at the computer's own seat, which "
               "this session is not (an SSH login, for example): join the plugdev group "
               "(sudo adduser $USER plugdev) and log in again.";
    case AccessCause::LogInAgain:
        return "This user is in the plugdev group, but this session began before joining it: "
               "log in again.";
    case AccessCause::Other:
        break;
    }
    return "The udev rule is installed, but " + node
        + " still refuses this user: reconnect the device, or look at its permissions (ls -l, "
          "getfacl).";
}

} // namespace UdevAccess

std::string usb_access_hint(int bus, int address)
{
    using namespace UdevAccess;
    const std::string node = nodePath(bus, address);
    return accessHintText(accessCause(gatherAccessFacts(systemRoot(), node)), node);
}
