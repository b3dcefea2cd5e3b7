#include "devicewatch.h"

#include "hotplugmonitor.h"

namespace {

// A device that restarts leaves and arrives within this, and so do the devices behind a hub
// that is plugged in; a person does not notice the wait.
constexpr int QuietMs = 500;

} // namespace

DeviceWatch::DeviceWatch(QObject *parent)
    : QObject(parent)
    , monitor_(new HotplugMonitor(this))
{
    quiet_.setSingleShot(true);
    quiet_.setInterval(QuietMs);
    connect(&quiet_, &QTimer::timeout, this, &DeviceWatch::onQuiet);
    connect(
        monitor_, &HotplugMonitor::deviceArrivedOrLeft, this, &DeviceWatch::onDeviceArrivedOrLeft);
}

DeviceWatch::~DeviceWatch() = default;

bool DeviceWatch::isWatching() const
{
    return monitor_->isWatching();
}

void DeviceWatch::setBusy(bool busy)
{
    busy_ = busy;
    // Idle again with an event held back: after a quiet time of its own, as the front end
    // often starts its next request right after the last one ended.
    if (!busy && heldBack())
        quiet_.start();
}

void DeviceWatch::rescanStarted()
{
    pending_ = false;
    quiet_.stop();
}

void DeviceWatch::onDeviceArrivedOrLeft()
{
    pending_ = true;
    quiet_.start();
}

void DeviceWatch::onQuiet()
{
    if (busy_)
        return;
    pending_ = false;
    emit rescanWanted();
}
