#include "companionport.h"

// Windows shows a USB 3 port's two halves as one hub port, and a device that restarts at the
// other speed comes back under the same location: there is no companion to look on.
std::optional<PortLocation> usb_companion_port(const PortLocation &)
{
    return std::nullopt;
}
