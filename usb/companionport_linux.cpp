#include "sysfsports.h"

#include <climits>
#include <cstdlib>
#include <memory>

namespace SysfsPorts {

namespace {

// "B-p1.p2...": the name Linux gives the device at `portPath` on bus `busNumber`.
std::string deviceName(uint8_t busNumber, const std::vector<uint8_t> &portPath)
{
    std::string name = std::to_string(busNumber) + "-";
    for (size_t i = 0; i < portPath.size(); ++i)
        name += (i == 0 ? "" : ".") + std::to_string(portPath[i]);
    return name;
}

// A decimal number from 1 to `max`, the whole of `text`.
std::optional<unsigned> parseNumber(const std::string &text, unsigned max)
{
    if (text.empty() || text.size() > 3
        || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const unsigned value = unsigned(std::stoul(text));
    if (value == 0 || value > max)
        return std::nullopt;
    return value;
}

} // namespace

std::string portDirectory(const std::string &devicesDir, const PortLocation &port)
{
    if (port.portPath.empty())
        return {};
    const std::vector<uint8_t> hubPath(port.portPath.begin(), port.portPath.end() - 1);
    const std::string last = std::to_string(port.portPath.back());
    if (hubPath.empty()) {
        const std::string root = "usb" + std::to_string(port.busNumber);
        return devicesDir + "/" + root + "/" + std::to_string(port.busNumber) + "-0:1.0/" + root
            + "-port" + last;
    }
    const std::string hub = deviceName(port.busNumber, hubPath);
    return devicesDir + "/" + hub + "/" + hub + ":1.0/" + hub + "-port" + last;
}

std::optional<PortLocation> parsePortName(const std::string &name)
{
    const size_t marker = name.rfind("-port");
    if (marker == std::string::npos)
        return std::nullopt;
    const std::optional<unsigned> last = parseNumber(name.substr(marker + 5), 255);
    const std::string hub = name.substr(0, marker);
    if (!last)
        return std::nullopt;

    PortLocation port;
    if (hub.rfind("usb", 0) == 0) {
        const std::optional<unsigned> bus = parseNumber(hub.substr(3), 255);
        if (!bus)
            return std::nullopt;
        port.busNumber = uint8_t(*bus);
        port.portPath = {uint8_t(*last)};
        return port;
    }
    const size_t dash = hub.find('-');
    if (dash == std::string::npos)
        return std::nullopt;
    const std::optional<unsigned> bus = parseNumber(hub.substr(0, dash), 255);
    if (!bus)
        return std::nullopt;
    port.busNumber = uint8_t(*bus);
    std::string rest = hub.substr(dash + 1);
    for (size_t start = 0;;) {
        const size_t dot = rest.find('.', start);
        const std::optional<unsigned> number = parseNumber(rest.substr(start, dot - start), 255);
        if (!number)
            return std::nullopt;
        port.portPath.push_back(uint8_t(*number));
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    port.portPath.push_back(uint8_t(*last));
    return port;
}

std::optional<PortLocation> companionIn(const std::string &devicesDir, const PortLocation &port)
{
    const std::string directory = portDirectory(devicesDir, port);
    if (directory.empty())
        return std::nullopt;
    // The link's target is relative and runs through the devices tree; only its last
    // component names the companion.
    const std::unique_ptr<char, decltype(&std::free)> target(
        ::realpath((directory + "/peer").c_str(), nullptr), &std::free);
    if (!target)
        return std::nullopt;
    const std::string resolved(target.get());
    return parsePortName(resolved.substr(resolved.rfind('/') + 1));
}

} // namespace SysfsPorts

std::optional<PortLocation> usb_companion_port(const PortLocation &port)
{
    return SysfsPorts::companionIn("/sys/bus/usb/devices", port);
}
