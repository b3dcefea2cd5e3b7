#pragma once

#include "devicedescription.h"
#include "packagereport.h"
#include "updatepacing.h"
#include "updateplan.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QThread>

// Runs firmware updates and repairs of one device at a time on a worker thread of its own.
// Each `start` is one run: the package is checked, the device opened and flashed (after a
// repair when it is in a repair state) and closed again. A run reports `progress` values,
// each also as `phaseProgress` with what the run is doing then, the `packageReport` of its
// package check, and, when it fails, one `error` text, and always ends with exactly one
// `complete`; a failed run names where it failed with `failed` (see UpdateTask::failed) just
// before. A `checkFile` run checks a package alone: its one `packageReport` (which holds
// the refusal) and `complete`, no device touched.
class UpdateTask : public QObject
{
    Q_OBJECT

public:
    explicit UpdateTask(QObject *parent = nullptr, UpdatePacing pacing = {});
    // Waits for the run in progress to finish; a device is never left half-flashed by
    // closing the window.
    ~UpdateTask() override;

signals:
    void progress(int percent);
    void complete();
    void error(const QString &text);
    void phaseProgress(int percent, UpdatePhase phase);
    void packageReport(const PackageReport &report);
    // Where a run failed, a stable name for scripts: package-unreadable (the file did not
    // open), package-unfit (for another product than the device), package-damaged (refused
    // by its checks), access-denied (the device did not open), update-failed (it failed while
    // being written).
    void failed(const QString &code);
    // Starts a run for the device `desc` with the package file `fwFileName`, a path as the
    // user sees it (see packagePathBytes).
    void start(const DeviceDescription &desc, const QString &fwFileName);
    // The same with the path's bytes as the file system has them, for a name taken from the
    // command line: the run opens exactly that file.
    void startFile(const DeviceDescription &desc, const QByteArray &fwFilePath);
    // Reads the whole package as an update does before it starts, with the sandbox read and
    // verified as for a repair whenever the package holds firmware.
    void checkFile(const QByteArray &fwFilePath);

private:
    QThread thread_;
};
