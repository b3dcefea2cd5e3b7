#pragma once

#include <cstdlib>
#include <string>

// The folder the system's /sys, /proc, /dev and udev rule folders are read under: "/" unless
// LUMEXOR_SYSTEM_ROOT names another one (a fake tree a test builds). Without the trailing
// slash, so the real root is "" and a path is systemRoot() + "/sys/...".
inline std::string systemRoot()
{
    const char *root = std::getenv("LUMEXOR_SYSTEM_ROOT");
    std::string path = root ? root : "";
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    return path;
}
