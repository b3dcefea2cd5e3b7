#include "updatejob.h"

#include "packagefile.h"
#include "updatetask.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace {

// The step texts are the command-line tool's.
std::pair<QString, QString> stepName(UpdatePhase phase)
{
    switch (phase) {
    case UpdatePhase::Package:
        return {"package", QCoreApplication::translate("CommandLine", "checking the package")};
    case UpdatePhase::Sandbox:
        return {
            "sandbox", QCoreApplication::translate("CommandLine", "loading the sandbox microcode")};
    case UpdatePhase::Microcode:
        return {"microcode", QCoreApplication::translate("CommandLine", "FX3 microcode")};
    case UpdatePhase::FpgaImage:
        return {"fpga", QCoreApplication::translate("CommandLine", "FPGA image")};
    case UpdatePhase::Edid:
        return {"edid", QCoreApplication::translate("CommandLine", "EDID")};
    case UpdatePhase::Device:
        break;
    }
    return {"device", QCoreApplication::translate("CommandLine", "opening the device")};
}

} // namespace

UpdateJob::UpdateJob(QObject *parent, const UpdatePacing &pacing)
    : QObject(parent)
    , task_(new UpdateTask(this, pacing))
{
    // Connected before the relays below: the record is written when the front end hears of
    // the end, so a script that reads the history after the tool exits finds it there.
    connect(task_, &UpdateTask::packageReport, this,
        [this](const PackageReport &report) { record_.sha256 = report.sha256; });
    connect(task_, &UpdateTask::error, this, [this](const QString &text) {
        if (record_.success)
            record_.error = text;
        record_.success = false;
    });
    connect(task_, &UpdateTask::complete, this, &UpdateJob::endRecord);
    connect(task_, &UpdateTask::progress, this, &UpdateJob::progress);
    connect(task_, &UpdateTask::phaseProgress, this, [this](int percent, UpdatePhase phase) {
        const auto [key, text] = stepName(phase);
        emit step(percent, key, text);
    });
    connect(task_, &UpdateTask::packageReport, this, &UpdateJob::packageReport);
    connect(task_, &UpdateTask::error, this, &UpdateJob::error);
    connect(task_, &UpdateTask::failed, this, [this](const QString &code) { code_ = code; });
    connect(task_, &UpdateTask::complete, this, &UpdateJob::complete);
}

UpdateJob::~UpdateJob() = default;

void UpdateJob::start(const DeviceDescription &desc, const QString &shown)
{
    code_.clear();
    beginRecord(desc, shown);
    emit task_->start(desc, shown);
}

void UpdateJob::startFile(const DeviceDescription &desc, const QByteArray &path)
{
    code_.clear();
    beginRecord(desc, packagefile::text(path));
    emit task_->startFile(desc, path);
}

void UpdateJob::beginRecord(const DeviceDescription &desc, const QString &package)
{
    QStringList path;
    for (uint8_t port : desc.portPath)
        path << QString::number(port);
    record_ = {};
    record_.program = updatehistory::programName();
    record_.product = desc.product;
    record_.port = QString::number(desc.busNumber) + '-' + path.join('.');
    record_.serial = desc.serial;
    record_.versionBefore = desc.version;
    // Absolute: the history is read later, from anywhere.
    record_.package = QDir::cleanPath(QFileInfo(package).absoluteFilePath());
    record_.success = true;
    recording_ = true;
}

void UpdateJob::endRecord()
{
    if (!recording_)
        return;
    recording_ = false;
    record_.time = updatehistory::now();
    // A warning in the log is all: the device was updated, or the failure was reported.
    updatehistory::append(record_);
}

void UpdateJob::check(const QByteArray &path)
{
    code_.clear();
    emit task_->checkFile(path);
}
