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

// Damages the member `name` of the archive at `path` behind its directory's back, as a bad
// copy or a broken packer would: "crc" changes a byte of its data (a stored member's then fails
// the directory's CRC; a deflated one's may also break its stream), "deflate" breaks a
// deflated member's stream at its first block, "short" and "long" make the directory state a
// size 100 bytes larger or smaller than the data holds. Returns 0, or -1 when the file cannot
// be read or written or holds no such member.
int damageZipMember(const std::string &path, const std::string &name, const std::string &how);
