#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PackageMember {
    std::string name;
    std::vector<uint8_t> data;
};

// Writes `members` as the zip archive `path`, replacing any file there. Every member gets the
// same fixed time stamp, so the same members give the same archive. Returns 0, or -1 with the
// reason in `error`.
int writeZip(
    const std::string &path, const std::vector<PackageMember> &members, std::string &error);
