// The sysfs writer: a device's folder, its hub's port folders with their "peer" links, and the
// uevent that announces it, laid out as Linux does, for libusb and the companion-port reader.

#include "busimpl.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace usbfs {

namespace {

void writeFile(const fs::path &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("usbfs: cannot write " + path.string());
}

void writeText(const fs::path &path, const std::string &text)
{
    writeFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

// `to` as a link target relative to the folder `from`; both absolute.
std::string relativeLink(const std::string &from, const std::string &to)
{
    return fs::path(to).lexically_relative(fs::path(from)).string();
}

} // namespace

std::string hex(unsigned value, int width)
{
    char text[16];
    std::snprintf(text, sizeof text, "%0*x", width, value);
    return text;
}

std::string Bus::Impl::portFolder(NodeId hub, uint8_t port) const
{
    const Enumeration &h = *at(hub).current;
    return h.syspath + "/" + h.interfaceName + "/" + tree.nameOf(hub) + "-port"
        + std::to_string(port);
}

void Bus::Impl::showPorts(NodeId hub)
{
    std::vector<std::pair<std::string, std::string>> links; // folder, peer folder
    std::vector<std::string> folders;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        if (!at(hub).current)
            return;
        const vcore::Place &h = tree.at(hub);
        for (uint8_t port : h.ports)
            folders.push_back(portFolder(hub, port));
        for (const auto &[port, peer] : h.peers) {
            if (!at(peer.first).current)
                continue;
            const std::string mine = portFolder(hub, port);
            const std::string theirs = portFolder(peer.first, peer.second);
            folders.push_back(theirs);
            links.emplace_back(mine, theirs);
            links.emplace_back(theirs, mine);
        }
    }
    for (const std::string &folder : folders) {
        fs::create_directories(root + folder);
        writeText(root + folder + "/connect_type", "hotplug\n");
    }
    for (const auto &[folder, peer] : links) {
        const fs::path link = root + folder + "/peer";
        std::error_code ignored;
        fs::remove(link, ignored);
        fs::create_symlink(relativeLink(folder, peer), link);
    }
}

void Bus::Impl::writeSysfs(const Enumeration &e, const vdev::Identity &identity, NodeId id)
{
    const fs::path dir = root + e.syspath;
    fs::create_directories(dir);
    std::vector<uint8_t> descriptors = e.device;
    descriptors.insert(descriptors.end(), e.configuration.begin(), e.configuration.end());
    // What libusb reads of a device, written before the "add" uevent announces it.
    writeFile(dir / "descriptors", descriptors);
    writeText(dir / "busnum", std::to_string(e.busNumber) + "\n");
    writeText(dir / "devnum", std::to_string(e.address) + "\n");
    writeText(dir / "speed", e.superSpeed ? "5000\n" : "480\n");
    writeText(dir / "version", e.superSpeed ? " 3.20\n" : " 2.10\n");
    writeText(dir / "idVendor", hex(identity.vendorId, 4) + "\n");
    writeText(dir / "idProduct", hex(identity.productId, 4) + "\n");
    writeText(dir / "bcdDevice", hex(identity.bcdDevice, 4) + "\n");
    writeText(dir / "bDeviceClass", hex(identity.deviceClass, 2) + "\n");
    writeText(dir / "bNumConfigurations", "1\n");
    writeText(dir / "bConfigurationValue", "1\n");
    writeText(dir / "bNumInterfaces", " 1\n");
    std::string devpath = "0";
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        const vcore::Place &p = tree.at(id);
        if (p.parent >= 0) {
            devpath = e.name.substr(e.name.find('-') + 1);
            // The device's own link to the port it is plugged into.
            const fs::path port = root + portFolder(p.parent, p.port);
            fs::create_directories(port);
            fs::create_symlink(
                relativeLink(e.syspath, port.string().substr(root.size())), dir / "port");
        }
        if (p.hub)
            writeText(
                dir / "maxchild", std::to_string(std::max<int>(4, int(p.ports.size()))) + "\n");
    }
    writeText(dir / "devpath", devpath + "\n");
    const fs::path interface = dir / e.interfaceName;
    fs::create_directories(interface);
    writeText(interface / "bInterfaceNumber", "00\n");
    writeText(interface / "bAlternateSetting", " 0\n");
    writeText(interface / "bInterfaceClass", identity.deviceClass == 0x09 ? "09\n" : "ff\n");
}

void Bus::Impl::publish(const Enumeration &e, const vdev::Identity &identity)
{
    // umockdev writes the uevent file from these properties and sends the "add" uevent.
    std::string record = "P: " + e.syspath.substr(4) + "\n";
    const auto property = [&](const std::string &key, const std::string &value) {
        record += "E: " + key + "=" + value + "\n";
    };
    char number[8];
    property("SUBSYSTEM", "usb");
    property("DEVTYPE", "usb_device");
    property("DRIVER", "usb");
    property("DEVNAME", e.devnode);
    property("PRODUCT",
        hex(identity.vendorId, 1) + "/" + hex(identity.productId, 1) + "/"
            + hex(identity.bcdDevice, 1));
    std::snprintf(number, sizeof number, "%03u", e.busNumber);
    property("BUSNUM", number);
    std::snprintf(number, sizeof number, "%03u", e.address);
    property("DEVNUM", number);
    property("MAJOR", "189");
    property("MINOR", std::to_string((e.busNumber - 1) * 128 + e.address - 1));
    GError *error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed.get(), record.c_str(), &error)) {
        const std::string reason = error ? error->message : "unknown";
        g_clear_error(&error);
        throw std::runtime_error("usbfs: cannot add " + e.syspath + ": " + reason);
    }
}

} // namespace usbfs
