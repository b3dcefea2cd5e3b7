#pragma once

#include "norbydevice.h"

#include <QString>

#include <cstdint>
#include <vector>

// What a virtual device keeps between runs of the program: its flash (FX3 microcode, FPGA
// image, EDID), its flags byte and its user modes, in a folder of its own. Each file is
// replaced whole (written aside, then renamed), so a program killed mid-write leaves the
// previous contents, never half of the new.
class DeviceStateStore
{
public:
    // `folder` empty: nothing is kept.
    DeviceStateStore(const QString &folder, const QString &location);

    // Whether an earlier run flashed microcode: a device in a repair state then boots it.
    bool hasMicrocode() const;
    // Puts what an earlier run saved into `device`; true when there was a saved state.
    bool restore(vdev::NorbyDevice &device);
    // Writes what changed since the last save or restore.
    void saveChanges(vdev::NorbyDevice &device);

private:
    struct Snapshot {
        int fx3Commits = -1;
        int fpgaCommits = -1;
        int edidCommits = -1;
        std::vector<uint8_t> settings; // flags byte and the three user modes
    };

    static std::vector<uint8_t> settingsOf(vdev::NorbyDevice &device);
    void load(vdev::NorbyDevice &device);
    bool write(const char *name, const std::vector<uint8_t> &bytes);

    QString folder_;
    Snapshot saved_;
};
