#include "updatetask.h"

#include "debuglog.h"
#include "devicecompat.h"
#include "packagecheck.h"
#include "packagepath.h"
#include "productidentify.h"
#include "repairdevice.h"
#include "sleepinhibitor.h"
#include "updaterun.h"
#include "updatesteps.h"
#include "ziparchive.h"

#include <QDebug>

namespace {

class Worker : public QObject
{
    Q_OBJECT

public:
    explicit Worker(UpdatePacing pacing)
        : pacing_(pacing)
    {
    }

signals:
    void progress(int percent);
    void complete();
    void error(const QString &text);

public slots:
    void update(DeviceDescription desc, QString fwFileName);
    void updateFile(DeviceDescription desc, QByteArray fwFilePath);

private:
    void runWhole(const DeviceDescription &desc, const QString &shown, const QByteArray &path);
    int run(const DeviceDescription &desc, const QString &shown, QByteArray path);

    UpdatePacing pacing_;
};

void Worker::update(DeviceDescription desc, QString fwFileName)
{
    runWhole(desc, fwFileName, QByteArray());
}

void Worker::updateFile(DeviceDescription desc, QByteArray fwFilePath)
{
    runWhole(desc, packagePathText(fwFilePath), fwFilePath);
}

void Worker::runWhole(const DeviceDescription &desc, const QString &shown, const QByteArray &path)
{
    qCDebug(defaultLog) << "Updater start";
    {
        // Suspend or power-off half-way through a flash leaves a device that only a repair
        // brings back, so sleep and shutdown wait for the whole run, package checks included;
        // the lock goes before `complete` tells the caller the run is over.
        const SleepInhibitor inhibitor(tr("Updating the firmware of a capture device"));
        run(desc, shown, path);
    }
    // The window stays disabled until this arrives, so every run ends with it, and only once
    // the package and the device are closed.
    emit complete();
}

int Worker::run(const DeviceDescription &desc, const QString &shown, QByteArray path)
{
    if (path.isNull()) {
        QString unnamed;
        path = packagePathBytes(shown, &unnamed);
        if (!unnamed.isEmpty()) {
            qCDebug(defaultLog).noquote() << "Can't open firmware file:" << unnamed;
            emit error(tr("Cannot open firmware package: %1").arg(unnamed));
            return -1;
        }
    }
    ZipArchive archive(path.toStdString());
    if (!archive.isOpen()) {
        const QString reason = QString::fromLocal8Bit(archive.errorString().c_str());
        qCDebug(defaultLog).noquote() << "Can't open firmware file:" << reason;
        emit error(tr("Cannot open firmware package: %1").arg(reason));
        return -1;
    }
    emit progress(1);

    UpdateRun run;
    run.pacing = pacing_;
    run.progress = [this](int percent) { emit progress(percent); };
    run.error = [this](const QString &text) { emit error(text); };

    // Everything the steps will write is checked before the device is touched, so a package
    // that would fail half-way leaves the device's flash as it was.
    if (identifyProduct(archive, run.product, run.error) < 0
        || checkPackageMembers(archive, *run.product.info, run.members, run.error) < 0
        || !isDeviceCompatible(*run.product.info, desc, run.error)
        || preflightPackage(archive, *run.product.info, run.members,
               desc.mode == SoftRepair || desc.mode == HardRepair, run.prepared, run.error)
            < 0)
        return -1;
    run.sandboxIds = run.product.info->sandboxIds;
    emit progress(2);

    run.device = OpenedDevice::open(desc);
    if (!run.device) {
        emit error(tr("Cannot Access Device. Administrative privilegies may be required"));
        return -1;
    }

    int result = -1;
    switch (desc.mode) {
    case Normal:
    case DirectUpdate:
        result = runUpdateSteps(run, 2, archive);
        break;
    case SoftRepair:
    case HardRepair:
        result = repairDevice(run, archive, desc);
        break;
    default:
        break;
    }

    // The repair may have swapped in the restarted device; whichever is open now goes back.
    run.device.close();
    if (result >= 0)
        emit progress(100);
    return result;
}

} // namespace

UpdateTask::UpdateTask(QObject *parent, UpdatePacing pacing)
    : QObject(parent)
{
    registerUsbMetaTypes();
    auto *worker = new Worker(pacing);
    worker->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &Worker::complete, this, &UpdateTask::complete);
    connect(worker, &Worker::progress, this, &UpdateTask::progress);
    connect(worker, &Worker::error, this, &UpdateTask::error);
    connect(this, &UpdateTask::start, worker, &Worker::update);
    connect(this, &UpdateTask::startFile, worker, &Worker::updateFile);
    thread_.start(QThread::InheritPriority);
}

UpdateTask::~UpdateTask()
{
    thread_.quit();
    thread_.wait();
}

#include "updatetask.moc"
