#include "norbybootloader.h"

namespace vdev {

namespace {
constexpr uint8_t kRamAccess = 0xA0;
// The boot loader's transfer buffer.
constexpr uint16_t kMaxTransfer = 4096;
} // namespace

std::optional<int> NorbyBootLoader::handle(const ControlSetup &setup, uint8_t *data)
{
    if (setup.request != kRamAccess)
        return std::nullopt;
    const uint32_t address = uint32_t(setup.index) << 16 | setup.value;
    if (setup.length > kMaxTransfer)
        return Pipe;

    if (setup.deviceToHost()) {
        for (uint16_t i = 0; i < setup.length; ++i)
            data[i] = read(address + i);
        return setup.length;
    }
    if (setup.length == 0) {
        start_ = address;
        lastStart_ = address;
        return 0;
    }
    for (uint16_t i = 0; i < setup.length; ++i) {
        const uint32_t at = address + i;
        auto page = pages_.try_emplace(at / kPage * kPage, Page {}).first;
        page->second[at % kPage] = data[i];
    }
    bytesWritten_ += setup.length;
    return setup.length;
}

std::optional<uint32_t> NorbyBootLoader::takeStart()
{
    std::optional<uint32_t> start;
    start.swap(start_);
    return start;
}

std::vector<uint8_t> NorbyBootLoader::ram(uint32_t address, size_t length) const
{
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i)
        bytes[i] = read(static_cast<uint32_t>(address + i));
    return bytes;
}

uint8_t NorbyBootLoader::read(uint32_t address) const
{
    uint8_t value = 0;
    auto page = pages_.find(address / kPage * kPage);
    if (page != pages_.end())
        value = page->second[address % kPage];
    if (corrupt_ && *corrupt_ == address)
        value = static_cast<uint8_t>(~value);
    return value;
}

} // namespace vdev
