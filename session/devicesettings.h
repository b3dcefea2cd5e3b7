#pragma once

#include "configblocks.h"
#include "devicedescription.h"

#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>

class DeviceRequests;

// The three switches the host controls in the device's flags, in this order; each needs its
// capability.
enum SettingSwitch { AspectRatioSwitch, PerformanceSwitch, AudioSelectorSwitch, SwitchCount };
using DeviceSwitches = std::array<bool, SwitchCount>;
uint32_t switchCapability(SettingSwitch which);

constexpr uint16_t UserModeCount = 3;
using UserModes = std::array<UserMode, UserModeCount>;

// The end of one settings request.
struct SettingsResult {
    bool ok = false;
    // The first failure's text; empty when the device answered without data.
    QString error;
    // The failing request completed without an answer: a read, or a write whose device could
    // not be opened.
    bool unanswered = false;
    DeviceSwitches switches {}; // a read of the switches
    UserModes modes {}; // a read of the user modes: the first `modesRead` of them
    uint16_t modesRead = 0;
};

// The device's settings as whole requests: the switches, read or written with one flags
// request, and the three user modes, read or written one request after another (each started
// by the completion of the one before), stopping at the first failure. Each call ends with
// exactly one `finished`; one call at a time.
class DeviceSettings : public QObject
{
    Q_OBJECT

public:
    explicit DeviceSettings(DeviceRequests &requests, QObject *parent = nullptr);
    ~DeviceSettings() override;

    void readSwitches(const DeviceDescription &desc);
    // The firmware's other bits are its own; the host writes them as 0.
    void writeSwitches(const DeviceDescription &desc, const DeviceSwitches &switches);
    void readUserModes(const DeviceDescription &desc);
    void writeUserModes(const DeviceDescription &desc, const UserModes &modes);

signals:
    void finished(const SettingsResult &result);

private:
    enum class Job { None, ReadSwitches, WriteSwitches, ReadModes, WriteModes };
    void begin(Job job, const DeviceDescription &desc);
    void onRead(const QSharedPointer<uint8_t> &ptr, uint16_t size);
    void onWritten();
    void onError(const QString &text);
    void nextMode();
    void finish(bool ok, bool unanswered = false);

    struct Actions;
    std::unique_ptr<Actions> actions_;
    Job job_ = Job::None;
    DeviceDescription device_;
    SettingsResult result_;
    uint16_t index_ = 0;
};
