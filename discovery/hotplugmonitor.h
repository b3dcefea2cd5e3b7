#pragma once

#include <QObject>
#include <QThread>

#include <atomic>

// Tells when a device the probe table knows (a repair or boot-loader id included) arrives on the
// bus or leaves it, where libusb can tell (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG), Linux
// among them). libusb calls its hotplug callbacks only from inside its event handling, so a
// thread of the monitor's own handles events until the monitor goes. Without the capability no
// thread starts and nothing is ever reported: the user rescans by hand.
class HotplugMonitor : public QObject
{
    Q_OBJECT

public:
    explicit HotplugMonitor(QObject *parent = nullptr);
    // Stops the thread; it leaves libusb's event handling at once and deregisters its callback.
    ~HotplugMonitor() override;

    // Arrivals and departures are being reported: the thread runs and libusb took its callback.
    bool isWatching() const { return state_.watching; }

    // What the monitor and its thread share.
    struct State {
        std::atomic<bool> stopping {false};
        std::atomic<bool> watching {false};
    };

signals:
    // Queued from the monitor's thread; one per arrival or departure.
    void deviceArrivedOrLeft();

private:
    State state_;
    QThread thread_;
};
