#pragma once

#include "norbydevice.h"
#include "virtualbus.h"

#include <QString>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

// One virtual device as a device file describes it: the model's configuration, where it is
// plugged, what its settings hold at the start and which faults the bus injects.
struct VirtualDeviceSpec {
    vdev::NorbyDevice::Config config;
    uint8_t bus = 1;
    std::vector<uint8_t> portPath {1}; // root hub port first; hubs are added as needed
    uint8_t flags = 0;
    std::array<vdev::NorbySettings::UserModeBlock, vdev::NorbySettings::UserModeCount> userModes {};
    vdev::NorbySettings::InputStatusBlock inputStatus {};
    int busyPolls = 0;
    int answerDelayMs = 0;
    std::vector<vusb::RequestFault> faults;
    int unplugAfterTransfers = 0;
    int openError = 0;

    // Where the device sits, as "bus-port.port...": it names the device's saved state.
    QString location() const;
};

// The devices when no file is named: one KESTREL3 in its application firmware on bus 1, port
// 1, seeing a 1920x1080p60 signal.
std::vector<VirtualDeviceSpec> defaultDevices();

// Where the bus has each place of a device file: root hubs by "bus", hubs by "bus-port...".
using HubPlaces = std::map<QString, vusb::NodeId>;

// The model an entry describes, with its settings as the file gives them. A device that earlier
// runs flashed boots its application firmware (`flashed`), whatever repair state the file
// names: it has been power cycled since.
std::shared_ptr<vdev::NorbyDevice> makeDevice(const VirtualDeviceSpec &spec, bool flashed = false);

// Plugs `model` at the place the entry gives, adding the hubs on the way, and arms its faults.
vusb::NodeId plugDevice(vusb::Bus &bus, const VirtualDeviceSpec &spec,
    std::shared_ptr<vdev::NorbyDevice> model, HubPlaces &hubs);

// Reads a device file (JSON, see docs/virtual-devices.md). On failure returns nothing and sets
// `error` to a text that names the file and, for a syntax error, the line and column.
std::optional<std::vector<VirtualDeviceSpec>> readDeviceFile(const QString &path, QString &error);

// readDeviceFile for contents already in memory: `path` only names them in `error`.
std::optional<std::vector<VirtualDeviceSpec>> parseDeviceFile(
    const QByteArray &bytes, const QString &path, QString &error);
