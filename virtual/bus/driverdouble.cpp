// install_winusb_driver and usb_access_hint for the tests: hand out what the test scripted on
// the bus.

#include "busstate.h"
#include "driverinstall.h"

int install_winusb_driver()
{
    vusb::Bus::State &s = vusb::Bus::instance().state();
    std::lock_guard<std::mutex> lock(s.mutex);
    ++s.driverCalls;
    int result = -1;
    if (!s.driverScript.empty()) {
        result = s.driverScript.front();
        s.driverScript.pop_front();
    }
    if (result == 0) {
        for (vcore::NodeId id : s.tree.ids())
            s.faults(id).needsDriver = false;
    }
    return result;
}

std::string usb_access_hint(int, int)
{
    vusb::Bus::State &s = vusb::Bus::instance().state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.accessHint;
}
