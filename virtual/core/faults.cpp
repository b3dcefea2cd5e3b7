// Counting of the injected faults, shared by both buses so that a fault means the same on each.

#include "faults.h"

#include <utility>

namespace vcore {

void Faults::failRequest(RequestFault fault)
{
    // Occurrences count from now on.
    fault.fromOccurrence += occurrences[fault.request];
    requests.push_back(fault);
}

int Faults::onRequest(uint8_t request)
{
    const int occurrence = ++occurrences[request];
    for (const RequestFault &f : requests) {
        if (f.request != request || occurrence < f.fromOccurrence)
            continue;
        if (f.count < 0 || occurrence < f.fromOccurrence + f.count)
            return f.error;
    }
    return 0;
}

int Faults::onOpen()
{
    if (openFailuresLeft == 0)
        return 0;
    if (openFailuresLeft > 0)
        --openFailuresLeft;
    return openError;
}

bool Faults::onTransferDone()
{
    if (unplugAfter <= 0 || --unplugAfter > 0)
        return false;
    unplugAfter = -1;
    return true;
}

void Faults::restarted()
{
    needsDriver = needsDriver || std::exchange(needsDriverAfterRestart, false);
}

} // namespace vcore
