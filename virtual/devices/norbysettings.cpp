#include "norbysettings.h"

#include <algorithm>
#include <thread>

namespace vdev {

std::optional<int> NorbySettings::handle(const ControlSetup &setup, uint8_t *data)
{
    const bool in = setup.deviceToHost();
    int answer = Pipe;
    switch (setup.request) {
    case GetFlags:
    case SetFlags:
        // The firmware stalls a flags request sent in the other request's direction.
        if (in != (setup.request == GetFlags))
            break;
        answer = in ? read(&flags_, 1, setup.length, data) : write(&flags_, 1, setup.length, data);
        break;
    case UserModeRequest:
        if (setup.index >= UserModeCount)
            break;
        answer = in ? read(userModes_[setup.index].data(), UserModeSize, setup.length, data)
                    : write(userModes_[setup.index].data(), UserModeSize, setup.length, data);
        break;
    case GetInputStatus:
        if (in)
            answer = read(inputStatus_.data(), InputStatusSize, setup.length, data);
        break;
    default:
        return std::nullopt;
    }
    if (answerDelay_.count() > 0)
        std::this_thread::sleep_for(answerDelay_);
    return answer;
}

// A read returns as much of the block as the host asked for, never more.
int NorbySettings::read(const uint8_t *block, size_t size, uint16_t length, uint8_t *data) const
{
    const size_t count = std::min<size_t>(size, length);
    std::copy(block, block + count, data);
    return static_cast<int>(count);
}

// The firmware takes a block only whole; anything else is stalled and changes nothing.
int NorbySettings::write(uint8_t *block, size_t size, uint16_t length, const uint8_t *data)
{
    if (length != size)
        return Pipe;
    std::copy(data, data + size, block);
    return static_cast<int>(size);
}

} // namespace vdev
