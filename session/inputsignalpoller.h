#pragma once

#include "configblocks.h"
#include "devicedescription.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class DeviceRequests;

// One reading of the device's input signal.
struct InputSignalReading {
    QString text; // the window's line, such as "HDMI 1920x1080p@59.94, YUY2"
    std::optional<InputStatusInfo> status; // nothing when the device gave none
    QString error; // the request's failure, if any
};

// Reads the input signal of the device `device` names (none: nothing is read) every two
// seconds while started, and once on readNow; each answer comes back as one `reading`.
class InputSignalPoller : public QObject
{
    Q_OBJECT

public:
    using DeviceSource = std::function<bool(DeviceDescription &desc)>;

    InputSignalPoller(DeviceRequests &requests, DeviceSource device, QObject *parent = nullptr);
    ~InputSignalPoller() override;

    void start() { timer_.start(); }
    void stop() { timer_.stop(); }
    bool isActive() const { return timer_.isActive(); }
    void readNow();

signals:
    void reading(const InputSignalReading &reading);

private:
    struct Action;
    std::unique_ptr<Action> action_;
    DeviceSource device_;
    QTimer timer_;
    QString error_;
};
