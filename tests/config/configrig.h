#pragma once

#include "buschecks.h"
#include "configdeviceactions.h"
#include "configdevicetask.h"
#include "norbydevice.h"

#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QStringList>

#include <memory>
#include <vector>

namespace configtest {

// A request the device stalls and no action accepts. Sent after the requests under test, its
// completion proves that all they had to report has arrived: the worker runs requests in
// order, and its signals arrive in order.
constexpr uint8_t Sentinel = 0x01;

inline QString hex(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), int(size)).toHex(' ');
}

// The device's transfers as "type request value index length timeout: bytes".
inline QStringList wire(vusb::NodeId node)
{
    QStringList out;
    for (const vusb::TransferRecord &t : vusb::Bus::instance().transfers(node))
        out << QString::asprintf("%02x %02x %d %d %d %u: ", t.requestType, t.request, t.value,
                   t.index, t.length, t.timeout)
                + hex(t.data.data(), t.data.size());
    return out;
}

// The result signals of one engine object in arrival order, as text, without the sentinel's.
class Recorder : public QObject
{
public:
    explicit Recorder(ConfigDeviceBase &source)
    {
        connect(&source, &ConfigDeviceBase::getRequestComplete, this,
            [this](uint8_t request, const ConfigDeviceDataPtr &ptr, uint16_t size) {
                add(request,
                    QStringLiteral("get %1 %2")
                        .arg(ptr ? hex(ptr.data(), size) : "null")
                        .arg(size));
            });
        connect(&source, &ConfigDeviceBase::setRequestComplete, this,
            [this](uint8_t request) { add(request, QStringLiteral("set")); });
        connect(&source, &ConfigDeviceBase::error, this,
            [this](uint8_t request, const QString &text) { add(request, "error " + text); });
    }

    QStringList lines;

private:
    void add(uint8_t request, const QString &line)
    {
        if (request != Sentinel)
            lines << QString::number(request) + ' ' + line;
    }
};

// An action that notes every request code its filter is asked about.
template<typename Action> struct Watching : Action {
    using Action::Action;
    bool acceptsRequest(uint8_t request) const override
    {
        if (request != Sentinel)
            asked.push_back(request);
        return Action::acceptsRequest(request);
    }
    mutable std::vector<uint8_t> asked;
};

// One application-firmware device behind a hub, and the engine as the main window builds it:
// one task, three actions.
struct Rig {
    vusb::Bus &bus = vusb::Bus::instance();
    std::shared_ptr<vdev::NorbyDevice> model
        = vdev::NorbyDevice::make(0x3620, vdev::NorbyState::Application);
    vusb::NodeId node = bus.plug(testsupport::Topology::build().hub, 2, model);
    DeviceDescription desc = testsupport::describe(node);
    std::unique_ptr<ConfigDeviceTask> task = std::make_unique<ConfigDeviceTask>();
    Watching<DeviceFlagsAction> flags {task.get()};
    Watching<InputStatusAction> input {task.get()};
    Watching<UserModeAction> modes {task.get()};

    vdev::NorbySettings &settings() { return model->settings(); }

    // True once the sentinel has gone through the task, within a bound.
    bool settle()
    {
        QSignalSpy done(task.get(), &ConfigDeviceBase::getRequestComplete);
        emit task->getConfigDeviceData(desc, Sentinel, makeConfigDeviceData(1), 1, 0, 0);
        for (const QDeadlineTimer deadline(5000); !deadline.hasExpired(); done.wait(50)) {
            for (const QList<QVariant> &args : done) {
                if (args.at(0).value<uint8_t>() == Sentinel)
                    return true;
            }
        }
        return false;
    }
};

} // namespace configtest
