#pragma once

// What a test can make go wrong with one device, on either bus. Each bus acts on the parts its
// host can see: the libusb emulation on all of them, the usbfs bed on those a device or the
// kernel can produce (request outcomes, departures, held requests, denied opens, drivers).

#include "usbmodel.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vcore {

// Request outcomes beyond the vdev::Status codes.
enum Outcome : int {
    // The device leaves the bus while the request is in flight and does not come back.
    Unplug = -1000,
    // The device never answers; the host's timeout ends the request.
    Hold = -1001,
};

// Fails occurrences of one request code on one device. Occurrences are counted per node from
// the moment the fault is set, 1-based, in both directions.
struct RequestFault {
    uint8_t request = 0;
    int fromOccurrence = 1;
    int count = 1; // how many occurrences fail; -1: every one from then on
    int error = vdev::Pipe; // a vdev::Status or an Outcome
};

struct Faults {
    int descriptorError = 0;
    std::map<uint8_t, int> stringErrors;
    // Opens fail with openError the next openFailuresLeft times (-1: always).
    int openError = 0;
    int openFailuresLeft = 0;
    // Opens fail as for a device without a driver until a driver install succeeds.
    bool needsDriver = false;
    bool needsDriverAfterRestart = false;
    int claimError = 0;
    std::vector<RequestFault> requests;
    std::map<uint8_t, int> occurrences;
    // The device leaves right after its n-th transfer from now; -1: never.
    int unplugAfter = -1;
    // The kernel driver that binds interface 0 at every enumeration; empty: none matches.
    std::string kernelDriver;

    void failRequest(RequestFault fault);
    // Counts one occurrence of `request`: 0, or the error or Outcome a fault gives it.
    int onRequest(uint8_t request);
    // The error the next open fails with, counted off; 0 when it may succeed.
    int onOpen();
    // Whether the device leaves after the transfer that just ended.
    bool onTransferDone();
    // Whether an open fails for good (a node nobody may open).
    bool openDenied() const { return openFailuresLeft < 0 && openError != 0; }
    // The program the device restarted into is a new id: it may lack a driver.
    void restarted();
};

} // namespace vcore
