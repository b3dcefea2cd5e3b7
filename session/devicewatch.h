#pragma once

#include <QObject>
#include <QTimer>

class HotplugMonitor;

// When the device list wants scanning again because a device came or went: the arrivals and
// departures the hotplug monitor reports, gathered until the bus has been quiet for a moment (a
// device that restarts, or a hub full of them, is one rescan), and held back while the front end
// is busy: a rescan never starts during an update or a request, but once it is idle again.
// Where libusb cannot tell arrivals, nothing is ever wanted.
class DeviceWatch : public QObject
{
    Q_OBJECT

public:
    explicit DeviceWatch(QObject *parent = nullptr);
    ~DeviceWatch() override;

    bool isWatching() const;
    // The front end runs an update or a request (busy), or waits for the user (idle).
    void setBusy(bool busy);
    // A rescan started: the arrivals and departures so far are in it.
    void rescanStarted();
    // An arrival or departure seen whose rescan has not started.
    bool pending() const { return pending_; }
    // The bus has been quiet, but the rescan waits for the front end to be idle.
    bool heldBack() const { return pending_ && !quiet_.isActive(); }

signals:
    void rescanWanted();

private:
    void onDeviceArrivedOrLeft();
    void onQuiet();

    HotplugMonitor *monitor_;
    QTimer quiet_;
    bool busy_ = false;
    bool pending_ = false;
};
