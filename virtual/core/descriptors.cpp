// Standard USB descriptors, shared by both buses: the usbfs test bed sends them as bytes, the
// libusb emulation reads its string texts through the same UTF-16 conversion.

#include "descriptors.h"

namespace vcore {

namespace {

constexpr uint8_t DeviceType = 0x01;
constexpr uint8_t ConfigurationType = 0x02;
constexpr uint8_t StringType = 0x03;
constexpr uint8_t InterfaceType = 0x04;
constexpr uint8_t EndpointType = 0x05;
constexpr uint8_t SuperSpeedCompanionType = 0x30;
constexpr uint8_t HubClass = 0x09;
constexpr uint8_t VendorClass = 0xFF;
constexpr size_t MaxCodeUnits = (255 - 2) / 2;

void put16(std::vector<uint8_t> &out, uint16_t value)
{
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}

// The next code point of the UTF-8 `text` from `at`, which it moves past it.
uint32_t nextCodePoint(const std::string &text, size_t &at)
{
    const auto byte = [&](size_t i) { return uint8_t(text[i]); };
    const uint8_t lead = byte(at);
    size_t extra = 0;
    uint32_t point = 0;
    if (lead < 0x80) {
        ++at;
        return lead;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1;
        point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2;
        point = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3;
        point = lead & 0x07;
    } else {
        ++at;
        return 0xFFFD;
    }
    if (at + extra >= text.size()) {
        ++at;
        return 0xFFFD;
    }
    for (size_t i = 1; i <= extra; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            ++at;
            return 0xFFFD;
        }
        point = point << 6 | (byte(at + i) & 0x3F);
    }
    at += extra + 1;
    return point;
}

} // namespace

std::vector<uint8_t> deviceDescriptor(const vdev::Identity &identity, bool superSpeed)
{
    std::vector<uint8_t> d {18, DeviceType};
    put16(d, superSpeed ? 0x0320 : 0x0210);
    d.push_back(identity.deviceClass);
    d.push_back(0); // subclass
    // A hub's protocol: 3 for a SuperSpeed hub, 1 for a high-speed hub with a single TT.
    d.push_back(identity.deviceClass == HubClass ? (superSpeed ? 3 : 1) : 0);
    // SuperSpeed gives endpoint 0 a packet size of 2^9.
    d.push_back(superSpeed ? 9 : 64);
    put16(d, identity.vendorId);
    put16(d, identity.productId);
    put16(d, identity.bcdDevice);
    d.push_back(identity.manufacturerIndex);
    d.push_back(identity.productIndex);
    d.push_back(identity.serialIndex);
    d.push_back(1); // configurations
    return d;
}

std::vector<uint8_t> configurationDescriptor(bool hub, bool superSpeed)
{
    std::vector<uint8_t> body {
        9, InterfaceType, 0, 0, uint8_t(hub ? 1 : 0), hub ? HubClass : VendorClass, 0, 0, 0};
    if (hub) {
        body.insert(body.end(), {7, EndpointType, 0x81, 0x03});
        put16(body, 2);
        body.push_back(12); // polled every 2^(12-1) microframes
        if (superSpeed) {
            body.insert(body.end(), {6, SuperSpeedCompanionType, 0, 0});
            put16(body, 2);
        }
    }
    std::vector<uint8_t> d {9, ConfigurationType};
    put16(d, uint16_t(9 + body.size()));
    d.insert(d.end(), {1, 1, 0, 0xE0, uint8_t(superSpeed ? 12 : 50)});
    d.insert(d.end(), body.begin(), body.end());
    return d;
}

std::vector<uint8_t> languageDescriptor()
{
    return {4, StringType, 0x09, 0x04};
}

std::vector<uint16_t> stringUnits(const std::string &text)
{
    std::vector<uint16_t> units;
    for (size_t at = 0; at < text.size();) {
        const uint32_t point = nextCodePoint(text, at);
        if (point >= 0x10000) {
            units.push_back(uint16_t(0xD800 + ((point - 0x10000) >> 10)));
            units.push_back(uint16_t(0xDC00 + ((point - 0x10000) & 0x3FF)));
        } else {
            units.push_back(uint16_t(point));
        }
    }
    if (units.size() > MaxCodeUnits)
        units.resize(MaxCodeUnits);
    return units;
}

std::vector<uint8_t> stringDescriptor(const std::string &text)
{
    const std::vector<uint16_t> units = stringUnits(text);
    std::vector<uint8_t> d {uint8_t(2 + 2 * units.size()), StringType};
    for (uint16_t unit : units)
        put16(d, unit);
    return d;
}

} // namespace vcore
