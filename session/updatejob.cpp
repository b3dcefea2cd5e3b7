#include "updatejob.h"

#include "updatetask.h"

#include <QCoreApplication>

namespace {

// The step texts are the command-line tool's.
QString stepText(const char *text)
{
    return QCoreApplication::translate("CommandLine", text);
}

std::pair<QString, QString> stepName(UpdatePhase phase)
{
    switch (phase) {
    case UpdatePhase::Package:
        return {"package", stepText("checking the package")};
    case UpdatePhase::Sandbox:
        return {"sandbox", stepText("loading the sandbox microcode")};
    case UpdatePhase::Microcode:
        return {"microcode", stepText("FX3 microcode")};
    case UpdatePhase::FpgaImage:
        return {"fpga", stepText("FPGA image")};
    case UpdatePhase::Edid:
        return {"edid", stepText("EDID")};
    case UpdatePhase::Device:
        break;
    }
    return {"device", stepText("opening the device")};
}

} // namespace

UpdateJob::UpdateJob(QObject *parent, const UpdatePacing &pacing)
    : QObject(parent)
    , task_(new UpdateTask(this, pacing))
{
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
    emit task_->start(desc, shown);
}

void UpdateJob::startFile(const DeviceDescription &desc, const QByteArray &path)
{
    code_.clear();
    emit task_->startFile(desc, path);
}

void UpdateJob::check(const QByteArray &path)
{
    code_.clear();
    emit task_->checkFile(path);
}
