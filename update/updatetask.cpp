#include "updatetask.h"

#include "accesshinttext.h"
#include "debuglog.h"
#include "devicecompat.h"
#include "deviceplacelock.h"
#include "packagecheck.h"
#include "packagepath.h"
#include "placebusytext.h"
#include "productidentify.h"
#include "repairdevice.h"
#include "sleepinhibitor.h"
#include "updateplan.h"
#include "updaterun.h"
#include "updatesteps.h"
#include "ziparchive.h"

#include <QCoreApplication>
#include <QDebug>

#include <chrono>

namespace {

// A request or a probe holds the device's place for a few transfers; the update waits that
// long for it.
constexpr std::chrono::milliseconds placeWait {2000};

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
    void phaseProgress(int percent, UpdatePhase phase);
    void packageReport(const PackageReport &report);
    void failed(const QString &code);

public slots:
    void update(DeviceDescription desc, QString fwFileName);
    void updateFile(DeviceDescription desc, QByteArray fwFilePath);
    void check(QByteArray fwFilePath);

private:
    void runWhole(const DeviceDescription &desc, const QString &shown, const QByteArray &path);
    int run(const DeviceDescription &desc, const QString &shown, QByteArray path);
    void report(int percent);

    UpdatePacing pacing_;
    // Where the run failed, for `failed`.
    const char *failure_ = nullptr;
    // The phase of this run's values: whether it repairs, and its steps once the package
    // names them.
    bool repair_ = false;
    std::vector<UpdateStepRange> ranges_;
};

void Worker::report(int percent)
{
    emit progress(percent);
    emit phaseProgress(percent, updatePhaseAt(percent, repair_, ranges_));
}

void Worker::check(QByteArray fwFilePath)
{
    ZipArchive archive(fwFilePath.toStdString());
    if (!archive.isOpen()) {
        PackageReport report;
        report.refusal = tr("Cannot open firmware package: %1")
                             .arg(QString::fromLocal8Bit(archive.errorString().c_str()));
        emit packageReport(report);
        emit complete();
        return;
    }
    QString refusal;
    const ErrorReporter note = [&](const QString &text) {
        if (refusal.isEmpty())
            refusal = text;
    };
    ProductMatch match;
    PackageMembers members;
    PreparedPackage prepared;
    // A package that is fine for a working device but cannot bring back a bricked one is
    // worth knowing about before it is needed.
    const bool passed = identifyProduct(archive, match, note) >= 0
        && checkPackageMembers(archive, *match.info, members, note) >= 0
        && preflightPackage(archive, *match.info, members, !members.skipFirmware, prepared, note)
            >= 0;
    PackageReport made = makePackageReport(archive, match, members, prepared, passed, refusal);
    made.sha256 = fileSha256(fwFilePath);
    emit packageReport(made);
    emit complete();
}

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
        failure_ = "update-failed";
        if (run(desc, shown, path) < 0)
            emit failed(failure_);
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
            failure_ = "package-unreadable";
            return -1;
        }
    }
    ZipArchive archive(path.toStdString());
    if (!archive.isOpen()) {
        const QString reason = QString::fromLocal8Bit(archive.errorString().c_str());
        qCDebug(defaultLog).noquote() << "Can't open firmware file:" << reason;
        emit error(tr("Cannot open firmware package: %1").arg(reason));
        failure_ = "package-unreadable";
        return -1;
    }
    repair_ = desc.mode == SoftRepair || desc.mode == HardRepair;
    ranges_.clear();
    report(UpdatePlan::PackageOpened);

    UpdateRun run;
    run.pacing = pacing_;
    run.progress = [this](int percent) { report(percent); };
    QString refusal;
    run.error = [this, &refusal](const QString &text) {
        if (refusal.isEmpty())
            refusal = text;
        emit error(text);
    };

    // Everything the steps will write is checked before the device is touched, so a package
    // that would fail half-way leaves the device's flash as it was.
    bool fits = true;
    const bool passed = identifyProduct(archive, run.product, run.error) >= 0
        && checkPackageMembers(archive, *run.product.info, run.members, run.error) >= 0
        && (fits = isDeviceCompatible(*run.product.info, desc, run.error))
        && preflightPackage(
               archive, *run.product.info, run.members, repair_, run.prepared, run.error)
            >= 0;
    PackageReport made
        = makePackageReport(archive, run.product, run.members, run.prepared, passed, refusal);
    // The bytes on disk before the device is touched: what the history says was flashed.
    made.sha256 = fileSha256(path);
    emit packageReport(made);
    if (!passed) {
        failure_ = fits ? "package-damaged" : "package-unfit";
        return -1;
    }
    ranges_ = updateStepRanges(run.members, UpdatePlan::stepsStart(repair_));
    run.sandboxIds = run.product.info->sandboxIds;
    report(UpdatePlan::PackageChecked);

    // The place stays locked for the whole run, also while a repair's restarts take the device
    // off its port: requests and probes of this and other processes keep off, and a second
    // update of the place is refused at once.
    DevicePlaceLock place;
    if (place.acquire(DevicePlaceLock::placeName(desc.busNumber, desc.portPath),
            DevicePlaceLock::Update, placeWait)
        == DevicePlaceLock::Outcome::Busy) {
        const PlaceHolder &holder = place.holder();
        if (holder.purpose == DevicePlaceLock::Update)
            emit error(
                QCoreApplication::translate(
                    "Worker", "Error: another update of this device is running: %1 (process %2)")
                    .arg(QString::fromStdString(holder.program), QString::number(holder.pid)));
        else
            emit error(placeBusyText(holder));
        failure_ = "device-busy";
        return -1;
    }
    run.device = OpenedDevice::open(desc);
    if (!run.device) {
        emit error(withAccessHint(
            tr("Cannot Access Device. Administrative privilegies may be required"), desc));
        failure_ = "access-denied";
        return -1;
    }

    int result = -1;
    switch (desc.mode) {
    case Normal:
    case DirectUpdate:
        result = runUpdateSteps(run, UpdatePlan::stepsStart(false), archive);
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
        report(100);
    return result;
}

} // namespace

UpdateTask::UpdateTask(QObject *parent, UpdatePacing pacing)
    : QObject(parent)
{
    registerUsbMetaTypes();
    qRegisterMetaType<UpdatePhase>("UpdatePhase");
    qRegisterMetaType<PackageReport>("PackageReport");
    auto *worker = new Worker(pacing);
    worker->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &Worker::complete, this, &UpdateTask::complete);
    connect(worker, &Worker::progress, this, &UpdateTask::progress);
    connect(worker, &Worker::error, this, &UpdateTask::error);
    connect(worker, &Worker::phaseProgress, this, &UpdateTask::phaseProgress);
    connect(worker, &Worker::packageReport, this, &UpdateTask::packageReport);
    connect(worker, &Worker::failed, this, &UpdateTask::failed);
    connect(this, &UpdateTask::checkFile, worker, &Worker::check);
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
