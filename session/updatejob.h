#pragma once

#include "devicedescription.h"
#include "packagereport.h"
#include "updatehistory.h"
#include "updatepacing.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class UpdateTask;

// Firmware updates and package checks for a front end, on the update task's thread: one run at
// a time, each ending with exactly one `complete`. A run reports its progress as a value and as
// a named step (`key` for scripts: package, sandbox, device, microcode, fpga, edid; `text` for
// people), the report of the package check it made, so no front end opens the package itself,
// and, when it fails, its `error` texts. Every update and repair, whichever front end starts
// it, leaves its record in the update history before `complete` reaches the front end.
class UpdateJob : public QObject
{
    Q_OBJECT

public:
    // `pacing` is the update's waits; only tests shorten them.
    explicit UpdateJob(QObject *parent = nullptr, const UpdatePacing &pacing = {});
    // Waits for the run in progress: a device is never left half-flashed.
    ~UpdateJob() override;

    // Updates (or repairs) `desc` with the package named by `shown`, a path as the user sees
    // it; startFile takes the path's bytes, as the command line gave them.
    void start(const DeviceDescription &desc, const QString &shown);
    void startFile(const DeviceDescription &desc, const QByteArray &path);
    // Checks the package alone, as an update would before it starts, the sandbox included;
    // the refusal, if any, is in the report.
    void check(const QByteArray &path);
    // The stable code of the last run's failure (see UpdateTask::failed), empty after a
    // success. The command line's JSON carries it.
    QString failureCode() const { return code_; }

signals:
    void progress(int percent);
    void step(int percent, const QString &key, const QString &text);
    void packageReport(const PackageReport &report);
    void error(const QString &text);
    void complete();

private:
    void beginRecord(const DeviceDescription &desc, const QString &package);
    void endRecord();

    UpdateTask *task_;
    // The history record of the run in progress; none during a package check.
    bool recording_ = false;
    updatehistory::Record record_;
    QString code_;
};
