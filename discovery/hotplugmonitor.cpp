#include "hotplugmonitor.h"

#include "debuglog.h"
#include "probetable.h"

#include <QDebug>
#include <libusb.h>

namespace {

// How long one round of event handling waits when nothing happens: the longest the thread
// takes to see the stop flag should the interruption come before it waits.
constexpr long RoundUs = 100000;

// One registered hotplug callback, deregistered when it goes.
class Registration
{
public:
    Registration(libusb_hotplug_callback_fn callback, void *userData)
    {
        // Every id: the filter is the probe table's, which no single vid/pid pair describes.
        registered_
            = libusb_hotplug_register_callback(nullptr,
                  LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT,
                  LIBUSB_HOTPLUG_NO_FLAGS, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                  LIBUSB_HOTPLUG_MATCH_ANY, callback, userData, &handle_)
            == LIBUSB_SUCCESS;
    }
    ~Registration()
    {
        if (registered_)
            libusb_hotplug_deregister_callback(nullptr, handle_);
    }
    Registration(const Registration &) = delete;
    Registration &operator=(const Registration &) = delete;

    bool registered() const { return registered_; }

private:
    libusb_hotplug_callback_handle handle_ = 0;
    bool registered_ = false;
};

class Worker : public QObject
{
    Q_OBJECT

public:
    explicit Worker(HotplugMonitor::State &state)
        : state_(state)
    {
    }

signals:
    void deviceArrivedOrLeft();

public slots:
    void watch();

private:
    static int LIBUSB_CALL onHotplug(
        libusb_context *, libusb_device *device, libusb_hotplug_event event, void *self);

    HotplugMonitor::State &state_;
};

void Worker::watch()
{
    const Registration registration(&Worker::onHotplug, this);
    if (!registration.registered()) {
        qCDebug(defaultLog) << "Hotplug callback not registered";
        return;
    }
    state_.watching = true;
    while (!state_.stopping) {
        timeval round {0, RoundUs};
        libusb_handle_events_timeout_completed(nullptr, &round, nullptr);
    }
    state_.watching = false;
}

int LIBUSB_CALL Worker::onHotplug(
    libusb_context *, libusb_device *device, libusb_hotplug_event event, void *self)
{
    // libusb keeps the descriptor of a device that left, so both events can be told apart.
    libusb_device_descriptor descriptor {};
    if (libusb_get_device_descriptor(device, &descriptor) != 0
        || !findProbe(descriptor.idVendor, descriptor.idProduct))
        return 0;
    qCDebug(defaultLog).noquote() << (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED
            ? "Device arrived"
            : "Device left") << QString::number(descriptor.idVendor, 16)
                                  << "/" << QString::number(descriptor.idProduct, 16);
    emit static_cast<Worker *>(self)->deviceArrivedOrLeft();
    return 0;
}

} // namespace

HotplugMonitor::HotplugMonitor(QObject *parent)
    : QObject(parent)
{
    if (!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG))
        return;
    auto *worker = new Worker(state_);
    worker->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker, &QObject::deleteLater);
    connect(&thread_, &QThread::started, worker, &Worker::watch);
    connect(worker, &Worker::deviceArrivedOrLeft, this, &HotplugMonitor::deviceArrivedOrLeft);
    thread_.start(QThread::InheritPriority);
}

HotplugMonitor::~HotplugMonitor()
{
    if (!thread_.isRunning())
        return;
    state_.stopping = true;
    // Ends the wait of the round in progress; the flag ends the loop.
    libusb_interrupt_event_handler(nullptr);
    thread_.quit();
    thread_.wait();
}

#include "hotplugmonitor.moc"
