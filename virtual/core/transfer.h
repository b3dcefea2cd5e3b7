#pragma once

// One control transfer as a virtual bus saw it: the record both buses keep and the tests read,
// whether the transfer came in as a direct libusb call or as a usbfs URB.

#include <cstdint>
#include <vector>

namespace vcore {

// A place in the tree: a hub or a plugged device. Stays valid while its bus lives, also while
// the device is away or re-enumerating.
using NodeId = int;

struct Transfer {
    NodeId node = -1;
    uint8_t requestType = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;
    // The caller's timeout in ms; 0 where it never reaches the bus (a URB carries none).
    unsigned timeout = 0;
    // Host to device: the bytes sent. Device to host: the bytes returned.
    std::vector<uint8_t> data;
    // The byte count, or a negative vdev::Status: Pipe for a stall, NoDevice for a transfer
    // the device's departure ended, Interrupted for one the host discarded.
    int result = 0;

    bool deviceToHost() const { return (requestType & 0x80) != 0; }
};

} // namespace vcore
