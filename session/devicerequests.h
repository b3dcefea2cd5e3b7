#pragma once

#include "configdevicetask.h"

#include <QObject>

// The one queue of configuration requests of a front end: the device settings and the
// input-signal poller share it, so their requests reach the device one at a time, in the order
// they were made.
class DeviceRequests : public QObject
{
public:
    explicit DeviceRequests(QObject *parent = nullptr)
        : QObject(parent)
    {
    }

    ConfigDeviceTask &task() { return task_; }

private:
    ConfigDeviceTask task_;
};
