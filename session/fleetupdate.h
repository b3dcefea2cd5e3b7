#pragma once

#include "devicedescription.h"
#include "updatepacing.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <vector>

class UpdateJob;

// One device of a fleet update and how it has fared.
struct FleetDevice {
    enum Result { Waiting, Running, Succeeded, Failed, Skipped, NotStarted };
    DeviceDescription desc; // as the scan before the run found it
    Result result = Waiting;
    // Of a device that did not succeed: the stable code (see UpdateJob::failureCode; also
    // device-in-use, interrupted) and the first error text.
    QString code;
    QString message;
};

// Updates (or repairs) a set of devices with one package, each on an update job and thread of
// its own, `jobs` at a time. A flash spends most of its time waiting for the device (the
// erase and program busy polls, the restart of a repair), not moving bytes, so devices on one
// bus go on side by side about as fast as one alone. Every device reports `started`, its
// `step`s and `error`s, and exactly one `ended` once its result is final; `finished` follows
// the last. A device whose package is for another product, or whose video other programs
// have open (unless `force`), is skipped and the others go on. After `stop` the runs in
// progress finish, since a flash cut short leaves a device that only a repair brings back,
// and the waiting devices end NotStarted.
class FleetUpdate : public QObject
{
    Q_OBJECT

public:
    // At most this many devices at once unless asked for more: every run holds a thread, an
    // open device and, while it restarts, the hub's power surge of a re-enumeration.
    static constexpr int DefaultJobs = 16;
    static constexpr int MaxJobs = 64;

    FleetUpdate(std::vector<DeviceDescription> devices, const QByteArray &package, int jobs,
        bool force, const UpdatePacing &pacing = {}, QObject *parent = nullptr);
    // Waits for the runs in progress.
    ~FleetUpdate() override;

    void start();
    void stop();

    const std::vector<FleetDevice> &devices() const { return devices_; }
    bool stopped() const { return stopping_; }
    // Every device was updated.
    bool succeeded() const;

signals:
    void started(int index);
    void step(int index, int percent, const QString &key, const QString &text);
    void error(int index, const QString &code, const QString &text);
    void ended(int index);
    void finished();

private:
    void launch();
    void end(int index, FleetDevice::Result result, const QString &code = {},
        const QString &message = {});

    std::vector<FleetDevice> devices_;
    const QByteArray package_;
    const int jobs_;
    const bool force_;
    const UpdatePacing pacing_;
    size_t next_ = 0;
    int running_ = 0;
    bool stopping_ = false;
    bool finished_ = false;
};
