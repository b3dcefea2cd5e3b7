#include "companionport.h"
#include "virtualbus.h"

// The tests' companion ports are the peer ports of the virtual bus's hubs.
std::optional<PortLocation> usb_companion_port(const PortLocation &port)
{
    const auto peer = vusb::Bus::instance().companionPort(port.busNumber, port.portPath);
    if (!peer)
        return std::nullopt;
    return PortLocation {peer->first, peer->second};
}
