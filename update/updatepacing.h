#pragma once

#include "flashcontext.h"

#include <chrono>

// The waits of an update run. The defaults are what real devices need; tests shorten them so
// that a whole update or repair runs in a fraction of a second.
struct UpdatePacing {
    // Between the flashing steps: the device finishes committing one flash run before the
    // next one starts.
    std::chrono::milliseconds stepPause {1000};
    // After the sandbox microcode was started: the FX3 drops off the bus, boots it from RAM
    // and enumerates again under a sandbox id. Nothing is polled meanwhile.
    std::chrono::milliseconds restartWait {3000};
    // After the restarted device was opened, before the first flashing request.
    std::chrono::milliseconds reopenPause {1000};
    // How long a flash may stay busy after a piece (see flashReadyTimeout).
    std::chrono::milliseconds flashReadyTimeout = ::flashReadyTimeout;
};
