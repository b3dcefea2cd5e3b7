#include "inputsignalpoller.h"

#include "configdeviceactions.h"
#include "devicerequests.h"
#include "inputstatustext.h"

namespace {

// Often enough to follow a source being switched, rarely enough to leave the device's control
// pipe to the settings.
constexpr int IntervalMs = 2000;

} // namespace

struct InputSignalPoller::Action {
    explicit Action(ConfigDeviceTask *task)
        : status(task)
    {
    }
    InputStatusAction status;
};

InputSignalPoller::InputSignalPoller(DeviceRequests &requests, DeviceSource device, QObject *parent)
    : QObject(parent)
    , action_(std::make_unique<Action>(&requests.task()))
    , device_(std::move(device))
{
    timer_.setInterval(IntervalMs);
    connect(&timer_, &QTimer::timeout, this, &InputSignalPoller::readNow);
    connect(&action_->status, &ConfigDeviceBase::error, this, [this](uint8_t, const QString &text) {
        if (error_.isEmpty())
            error_ = text;
    });
    connect(&action_->status, &ConfigDeviceBase::getRequestComplete, this,
        [this](uint8_t, const ConfigDeviceDataPtr &ptr, uint16_t size) {
            InputSignalReading answer;
            answer.text = inputStatusText(ptr, size);
            answer.status = InputStatusAction::fromData(ptr, size);
            answer.error = error_;
            error_.clear();
            emit reading(answer);
        });
}

InputSignalPoller::~InputSignalPoller() = default;

void InputSignalPoller::readNow()
{
    DeviceDescription desc;
    if (device_(desc))
        action_->status.get(desc);
}
