#include "systemroot.h"
#include "videousers.h"

#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// A device's video node as a program opens it: its path and, when sysfs tells, its device
// number, which also finds the node opened under another name (a udev symlink such as
// /dev/v4l/by-id/...).
struct VideoNode {
    std::string path;
    dev_t number = 0; // 0: not known
};

std::vector<std::string> entries(const std::string &directory)
{
    std::vector<std::string> names;
    struct Closer {
        void operator()(DIR *dir) const { ::closedir(dir); }
    };
    const std::unique_ptr<DIR, Closer> dir(::opendir(directory.c_str()));
    if (!dir)
        return names;
    while (const dirent *entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    return names;
}

// The video4linux entries of the interfaces ("B-P:C.I") of the device folder "B-P" (the name
// Linux gives the device at port path P on bus B).
std::vector<VideoNode> videoNodes(
    const std::string &root, uint8_t busNumber, const std::vector<uint8_t> &portPath)
{
    std::vector<VideoNode> nodes;
    if (portPath.empty())
        return nodes;
    std::string name = std::to_string(busNumber) + "-";
    for (size_t i = 0; i < portPath.size(); ++i)
        name += (i == 0 ? "" : ".") + std::to_string(portPath[i]);
    const std::string device = root + "/sys/bus/usb/devices/" + name;
    for (const std::string &interface : entries(device)) {
        if (interface.rfind(name + ":", 0) != 0)
            continue;
        const std::string video = device + "/" + interface + "/video4linux";
        for (const std::string &entry : entries(video)) {
            if (entry.rfind("video", 0) != 0)
                continue;
            VideoNode node {"/dev/" + entry, 0};
            unsigned major = 0;
            unsigned minor = 0;
            char colon = 0;
            std::ifstream number(video + "/" + entry + "/dev");
            if (number >> major >> colon >> minor && colon == ':')
                node.number = makedev(major, minor);
            nodes.push_back(node);
        }
    }
    return nodes;
}

// Whether the open file `link` (a /proc/PID/fd entry) is one of `nodes`.
bool holdsNode(const std::string &link, const std::vector<VideoNode> &nodes)
{
    char target[PATH_MAX];
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
    if (length <= 0 || size_t(length) >= sizeof target)
        return false;
    const std::string path(target, size_t(length));
    if (path.rfind("/dev/", 0) != 0)
        return false;
    struct stat info {
    };
    const bool device = ::stat(link.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
    for (const VideoNode &node : nodes) {
        if (path == node.path || (device && node.number != 0 && info.st_rdev == node.number))
            return true;
    }
    return false;
}

} // namespace

std::vector<VideoUser> usb_video_users(uint8_t busNumber, const std::vector<uint8_t> &portPath)
{
    const std::string root = systemRoot();
    const std::vector<VideoNode> nodes = videoNodes(root, busNumber, portPath);
    if (nodes.empty())
        return {};
    // Only other programs lose their capture to an update; this one asks on their behalf.
    const int own = int(::getpid());
    std::map<int, VideoUser> users;
    for (const std::string &entry : entries(root + "/proc")) {
        if (entry.size() > 9 || entry.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const int pid = std::atoi(entry.c_str());
        if (pid == own)
            continue;
        const std::string process = root + "/proc/" + entry;
        for (const std::string &fd : entries(process + "/fd")) {
            if (!holdsNode(process + "/fd/" + fd, nodes))
                continue;
            VideoUser user;
            user.pid = pid;
            std::ifstream comm(process + "/comm");
            if (!std::getline(comm, user.program) || user.program.empty())
                user.program = "?";
            users[pid] = user;
            break;
        }
    }
    std::vector<VideoUser> list;
    for (const auto &entry : users)
        list.push_back(entry.second);
    return list;
}
