#pragma once

// The device side of the virtual USB bus. Models know nothing of libusb: they see a control
// request and a data buffer and answer with a byte count or a negative status, so the same
// models can sit under the bus emulation of the tests or under any other USB emulation.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace vdev {

// Request outcomes. The numbers are the ones USB stacks commonly use (and libusb's), so the
// emulation layer can pass them through unchanged.
enum Status : int {
    Ok = 0,
    Io = -1,
    InvalidParam = -2,
    Access = -3,
    NoDevice = -4,
    NotFound = -5,
    Busy = -6,
    Timeout = -7,
    Overflow = -8,
    Pipe = -9, // the device stalled the request
    Interrupted = -10,
    NoMem = -11,
    NotSupported = -12,
    Other = -99,
};

struct ControlSetup {
    uint8_t requestType = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;

    bool deviceToHost() const { return (requestType & 0x80) != 0; }
};

// The fields of the device descriptor that the host looks at.
struct Identity {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t bcdDevice = 0x0100;
    uint8_t deviceClass = 0;
    uint8_t manufacturerIndex = 0;
    uint8_t productIndex = 0;
    uint8_t serialIndex = 0;
};

// Where a device comes back after it left the bus to re-enumerate (a firmware restart).
enum class Arrival {
    SamePort,
    OtherPort, // the next port of the same hub, as after a user re-plugs it elsewhere
    // The peer of its port on the other bus of a USB 3 hub (the SuperSpeed companion of a
    // high-speed port): the FX3 boot loader runs at high speed, the program it starts may
    // connect at SuperSpeed. Where the port has no peer the device comes back on its port.
    CompanionPort,
    Never,
};

struct Reenumeration {
    std::chrono::milliseconds delay {0};
    Arrival arrival = Arrival::SamePort;
};

class UsbDeviceModel
{
public:
    virtual ~UsbDeviceModel() = default;

    // Asked whenever the device enumerates; a restarted device may answer differently.
    virtual Identity identity() const = 0;
    virtual bool isHub() const { return false; }

    // The text of string descriptor `index`, or nothing when the device stalls the read.
    virtual std::optional<std::string> stringDescriptor(uint8_t index) const = 0;

    // One control request on endpoint 0. `data` holds `setup.length` bytes: the bytes sent
    // for a host-to-device request, room for the answer otherwise. Returns the number of bytes
    // transferred or a negative Status.
    virtual int control(const ControlSetup &setup, uint8_t *data) = 0;

    // Set by a request after which the device drops off the bus to restart; the bus collects
    // it once, right after that request completed.
    virtual std::optional<Reenumeration> takeReenumeration() { return std::nullopt; }

    // How long the device took to answer the request it just answered, beyond the bus's own
    // work; collected once, right after the request. The bus emulation makes the caller wait
    // that long after it has let go of the bus, so devices on one bus take their time side by
    // side, as real ones behind one host controller do. Zero for a model that answers at once.
    virtual std::chrono::microseconds takeAnswerTime() { return {}; }
};

} // namespace vdev
