#include "devicesettings.h"

#include "configdeviceactions.h"
#include "devicerequests.h"

namespace {

// 0xB3 in both directions; wIndex picks the mode.
constexpr uint8_t UserModeRequest = 179;

constexpr uint8_t switchBits[SwitchCount]
    = {DeviceFlags::KeepAspectRatio, DeviceFlags::PerformanceMode, DeviceFlags::AudioSelector};

} // namespace

uint32_t switchCapability(SettingSwitch which)
{
    const uint32_t capabilities[SwitchCount]
        = {CapAspectRatio, CapPerformanceMode, CapAudioSelector};
    return capabilities[which];
}

struct DeviceSettings::Actions {
    explicit Actions(ConfigDeviceTask *task)
        : flags(task)
        , modes(task)
    {
    }
    DeviceFlagsAction flags;
    UserModeAction modes;
    std::array<UserMode, UserModeCount> writing {};
};

DeviceSettings::DeviceSettings(DeviceRequests &requests, QObject *parent)
    : QObject(parent)
    , actions_(std::make_unique<Actions>(&requests.task()))
{
    ConfigDeviceBase *const actions[] = {&actions_->flags, &actions_->modes};
    for (ConfigDeviceBase *action : actions) {
        connect(action, &ConfigDeviceBase::getRequestComplete, this,
            [this](uint8_t, const ConfigDeviceDataPtr &ptr, uint16_t size) { onRead(ptr, size); });
        connect(action, &ConfigDeviceBase::setRequestComplete, this, [this] { onWritten(); });
        connect(action, &ConfigDeviceBase::error, this,
            [this](uint8_t, const QString &text) { onError(text); });
    }
}

DeviceSettings::~DeviceSettings() = default;

void DeviceSettings::begin(Job job, const DeviceDescription &desc)
{
    job_ = job;
    device_ = desc;
    result_ = SettingsResult();
    index_ = 0;
}

void DeviceSettings::readSwitches(const DeviceDescription &desc)
{
    begin(Job::ReadSwitches, desc);
    actions_->flags.get(device_);
}

void DeviceSettings::writeSwitches(const DeviceDescription &desc, const DeviceSwitches &switches)
{
    begin(Job::WriteSwitches, desc);
    actions_->flags.set(device_,
        DeviceFlags::fromSwitches(switches[AspectRatioSwitch], switches[PerformanceSwitch],
            switches[AudioSelectorSwitch]));
}

void DeviceSettings::readUserModes(const DeviceDescription &desc)
{
    begin(Job::ReadModes, desc);
    actions_->modes.get(device_, UserModeRequest, index_);
}

void DeviceSettings::writeUserModes(const DeviceDescription &desc, const UserModes &modes)
{
    begin(Job::WriteModes, desc);
    actions_->writing = modes;
    actions_->modes.set(device_, modes[index_], UserModeRequest, index_);
}

void DeviceSettings::onError(const QString &text)
{
    if (job_ != Job::None && result_.error.isEmpty())
        result_.error = text;
}

void DeviceSettings::onRead(const QSharedPointer<uint8_t> &ptr, uint16_t size)
{
    switch (job_) {
    case Job::None:
        return;
    case Job::ReadSwitches: {
        const std::optional<unsigned char> flags = DeviceFlagsAction::fromData(ptr, size);
        if (!result_.error.isEmpty() || !flags)
            return finish(false, true);
        for (int which = 0; which < SwitchCount; ++which)
            result_.switches[which] = (*flags & switchBits[which]) != 0;
        return finish(true);
    }
    case Job::ReadModes: {
        const std::optional<UserMode> mode = UserModeAction::fromData(ptr, size);
        if (!result_.error.isEmpty() || !mode)
            return finish(false, true);
        result_.modes[index_] = *mode;
        result_.modesRead = uint16_t(index_ + 1);
        return nextMode();
    }
    case Job::WriteSwitches:
    case Job::WriteModes:
        // A write whose device cannot be opened completes as a read without data.
        return finish(false, true);
    }
}

void DeviceSettings::onWritten()
{
    if (job_ != Job::WriteSwitches && job_ != Job::WriteModes)
        return;
    if (!result_.error.isEmpty() || job_ == Job::WriteSwitches)
        return finish(result_.error.isEmpty());
    nextMode();
}

void DeviceSettings::nextMode()
{
    if (index_ + 1 >= UserModeCount)
        return finish(true);
    ++index_;
    if (job_ == Job::ReadModes)
        actions_->modes.get(device_, UserModeRequest, index_);
    else
        actions_->modes.set(device_, actions_->writing[index_], UserModeRequest, index_);
}

void DeviceSettings::finish(bool ok, bool unanswered)
{
    job_ = Job::None;
    result_.ok = ok;
    result_.unanswered = !ok && unanswered;
    emit finished(result_);
}
