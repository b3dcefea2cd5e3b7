#pragma once

#include "configdeviceaction.h"

#include <cstring>
#include <optional>
#include <type_traits>

// Typed reads and writes of one configuration block: `T` is the block (its size is the
// transfer length), `GetRequest` and `SetRequest` the vendor requests that read and write it
// (`SetRequest` 0 for a read-only block). Of the task's broadcast results it passes on those
// of its two request codes only.
template<typename T, uint8_t GetRequest, uint8_t SetRequest, uint16_t DefaultIndex,
    uint16_t DefaultValue>
class ConfigDeviceActionBase : public ConfigDeviceAction
{
    static_assert(std::is_trivially_copyable<T>::value, "blocks are copied byte for byte");
    static_assert(sizeof(T) <= 0xFFFF, "a control transfer carries at most 65535 bytes");

public:
    static constexpr uint16_t Size = uint16_t(sizeof(T));

    using ConfigDeviceAction::ConfigDeviceAction;

    // A read-only block has SetRequest 0, so it also takes results for the code 0.
    bool acceptsRequest(uint8_t request) const override
    {
        return request == GetRequest || request == SetRequest;
    }

    // Reads the block; it arrives as getRequestComplete(request, ptr, size) with `ptr`
    // holding a T, or a null `ptr` when the read failed.
    void get(const DeviceDescription &desc, uint8_t request = GetRequest,
        uint16_t index = DefaultIndex, uint16_t value = DefaultValue)
    {
        emit getConfigDeviceData(desc, request, makeConfigDeviceData(Size), Size, index, value);
    }

    // Writes `data`; setRequestComplete(request) follows, after error() when it failed.
    void set(const DeviceDescription &desc, const T &data, uint8_t request = SetRequest,
        uint16_t index = DefaultIndex, uint16_t value = DefaultValue)
    {
        const ConfigDeviceDataPtr ptr = makeConfigDeviceData(Size);
        std::memcpy(ptr.data(), &data, Size);
        emit setConfigDeviceData(desc, request, ptr, Size, index, value);
    }

    // The block of a read completion; nothing for a completion without data or a buffer too
    // short to hold a T.
    static std::optional<T> fromData(const ConfigDeviceDataPtr &ptr, uint16_t size)
    {
        if (!ptr || size < Size)
            return std::nullopt;
        T block;
        std::memcpy(&block, ptr.data(), Size);
        return block;
    }
};
