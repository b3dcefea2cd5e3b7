#pragma once

#include "configdevicebase.h"

#include <system_error>

class ConfigDeviceTask;

// A requester bound to the one task: its requests go to the task, and every result of the
// task comes back through its filter. The task is used only while connecting; the
// connections end by themselves when either side goes away.
class ConfigDeviceAction : public ConfigDeviceBase
{
public:
    // Throws std::system_error (std::errc::invalid_argument) when `task` is null.
    explicit ConfigDeviceAction(ConfigDeviceTask *task, QObject *parent = nullptr);
    // Sets `ec` to std::errc::invalid_argument and connects nothing when `task` is null;
    // clears it otherwise.
    ConfigDeviceAction(ConfigDeviceTask *task, std::error_code &ec, QObject *parent = nullptr);

private:
    void attach();

    ConfigDeviceTask *task_ = nullptr;
};
