#pragma once

#include "deviceopen.h"
#include "errorreporter.h"
#include "flashcontext.h"
#include "packagecheck.h"
#include "packagepreflight.h"
#include "productidentify.h"
#include "producttable.h"
#include "updatepacing.h"

#include <chrono>
#include <functional>
#include <thread>

// The state of one update run on the update thread: the open device, what the package holds,
// and how the run reports. A fresh one is made for every run, so nothing of an earlier run
// (a product, a flag, a handle) can leak into the next.
struct UpdateRun {
    // The device being updated. The repair replaces it with the restarted device; whatever it
    // holds when the run ends is closed then.
    OpenedDevice device;
    PackageMembers members;
    PreparedPackage prepared;
    ProductMatch product;
    // Where the repaired device is looked for after its restart, in set order.
    UsbIdSet sandboxIds;
    UpdatePacing pacing;
    std::function<void(int percent)> progress;
    ErrorReporter error;

    // What the flashing protocols work with: the device open now and this run's reporting.
    FlashContext flashContext() const
    {
        FlashContext context;
        context.handle = device.handle();
        context.progress = progress;
        context.error = error;
        context.readyTimeout = pacing.flashReadyTimeout;
        return context;
    }

    // Blocks the update thread only; the window stays responsive meanwhile.
    static void pause(std::chrono::milliseconds duration)
    {
        if (duration.count() > 0)
            std::this_thread::sleep_for(duration);
    }
};
