#include "driverinstall.h"
#include "udevaccess.h"
#include "usblog.h"

#include <sys/stat.h>
#include <unistd.h>

namespace UdevAccess {

const char RuleFileName[] = "70-lumexor-norby.rules";

std::vector<std::string> ruleDirectories()
{
    return {"/etc/udev/rules.d", "/run/udev/rules.d", "/usr/lib/udev/rules.d", "/lib/udev/rules.d",
        "/usr/local/lib/udev/rules.d"};
}

int installResult(bool isRoot, const std::vector<std::string> &directories)
{
    for (const std::string &directory : directories) {
        const std::string path = directory + "/" + RuleFileName;
        struct stat info {
        };
        if (::stat(path.c_str(), &info) == 0) {
            usbProgressLog() << "udev rule: " << path << std::endl;
            return -1;
        }
    }
    if (isRoot)
        return -1;
    usbErrorLog() << "No access to the USB device: install " << RuleFileName
                  << " into /etc/udev/rules.d as root and reconnect the device" << std::endl;
    return -2;
}

} // namespace UdevAccess

int install_winusb_driver()
{
    return UdevAccess::installResult(::geteuid() == 0, UdevAccess::ruleDirectories());
}
