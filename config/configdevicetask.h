#pragma once

#include "configdevicebase.h"

#include <QThread>

// Runs every configuration request of the application on one worker thread, one at a time
// in the order they were emitted. Each request opens the device, performs one control
// transfer and closes it again, so nothing stays open between requests. Results come back as
// this object's result signals, on the thread that owns it.
class ConfigDeviceTask : public ConfigDeviceBase
{
public:
    explicit ConfigDeviceTask(QObject *parent = nullptr);
    // Waits for the request in progress; requests still queued are dropped.
    ~ConfigDeviceTask() override;

private:
    QThread thread_;
    QObject *worker_ = nullptr; // lives on thread_, deleted when it finishes
};
