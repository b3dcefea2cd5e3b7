#include "fleetupdate.h"

#include "deviceusers.h"
#include "updatejob.h"

#include <QCoreApplication>

#include <algorithm>
#include <memory>

FleetUpdate::FleetUpdate(std::vector<DeviceDescription> devices, const QByteArray &package,
    int jobs, bool force, const UpdatePacing &pacing, QObject *parent)
    : QObject(parent)
    , package_(package)
    , jobs_(std::clamp(jobs, 1, MaxJobs))
    , force_(force)
    , pacing_(pacing)
{
    for (DeviceDescription &desc : devices) {
        devices_.emplace_back();
        devices_.back().desc = std::move(desc);
    }
}

// The jobs are children: their destructors wait for the runs still in progress.
FleetUpdate::~FleetUpdate() = default;

bool FleetUpdate::succeeded() const
{
    return std::all_of(devices_.begin(), devices_.end(),
        [](const FleetDevice &device) { return device.result == FleetDevice::Succeeded; });
}

void FleetUpdate::start()
{
    // Queued, so that whoever waits for `finished` is waiting before it can come.
    QMetaObject::invokeMethod(this, &FleetUpdate::launch, Qt::QueuedConnection);
}

void FleetUpdate::stop()
{
    if (stopping_)
        return;
    stopping_ = true;
    launch();
}

void FleetUpdate::end(
    int index, FleetDevice::Result result, const QString &code, const QString &message)
{
    FleetDevice &device = devices_[size_t(index)];
    device.result = result;
    device.code = code;
    if (device.message.isEmpty())
        device.message = message;
    emit ended(index);
}

void FleetUpdate::launch()
{
    while (!stopping_ && running_ < jobs_ && next_ < devices_.size()) {
        const int index = int(next_++);
        const DeviceDescription &desc = devices_[size_t(index)].desc;
        // An update restarts the device, which ends the capture of every program recording
        // from it; that device is left alone, the others go on.
        const QStringList users = deviceUsers(desc);
        if (!users.isEmpty() && !force_) {
            const QString message = QCoreApplication::translate("CommandLine",
                "The device is in use by %1: an update restarts it and "
                "ends their capture. Close them, or give --force.")
                                        .arg(users.join(", "));
            emit error(index, "device-in-use", message);
            end(index, FleetDevice::Skipped, "device-in-use", message);
            continue;
        }
        auto *job = new UpdateJob(this, pacing_);
        connect(job, &UpdateJob::step, this,
            [this, index](int percent, const QString &key, const QString &label) {
                emit step(index, percent, key, label);
            });
        auto errors = std::make_shared<QStringList>();
        connect(job, &UpdateJob::error, this,
            [errors](const QString &message) { errors->append(message); });
        connect(job, &UpdateJob::complete, this, [this, index, job, errors] {
            // The code is known once the run is over; a failed run ends right after its error.
            const QString code = errors->isEmpty() ? QString()
                : job->failureCode().isEmpty()     ? QString("update-failed")
                                                   : job->failureCode();
            for (const QString &message : *errors)
                emit error(index, code, message);
            // A package for another product is found out before the device is touched.
            end(index,
                code.isEmpty()                ? FleetDevice::Succeeded
                    : code == "package-unfit" ? FleetDevice::Skipped
                                              : FleetDevice::Failed,
                code, errors->value(0));
            job->deleteLater();
            --running_;
            launch();
        });
        ++running_;
        devices_[size_t(index)].result = FleetDevice::Running;
        emit started(index);
        job->startFile(desc, package_);
    }
    if (stopping_) {
        for (; next_ < devices_.size(); ++next_)
            end(int(next_), FleetDevice::NotStarted, "interrupted",
                QCoreApplication::translate("CommandLine", "interrupted; nothing was written"));
    }
    if (running_ == 0 && next_ == devices_.size() && !finished_) {
        finished_ = true;
        emit finished();
    }
}
