#include "updatejob.h"

#include "devicecompat.h"
#include "updateplan.h"
#include "updatetask.h"

#include <QCoreApplication>

#include <algorithm>

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
    connect(task_, &UpdateTask::progress, this, [this](int percent) {
        percent_ = std::max(percent_, percent);
        emit progress(percent);
    });
    connect(task_, &UpdateTask::phaseProgress, this, [this](int percent, UpdatePhase phase) {
        const auto [key, text] = stepName(phase);
        emit step(percent, key, text);
    });
    connect(task_, &UpdateTask::packageReport, this, [this](const PackageReport &report) {
        reported_ = true;
        report_ = report;
        emit packageReport(report);
    });
    connect(task_, &UpdateTask::error, this, [this](const QString &text) {
        failed_ = true;
        emit error(text);
    });
    connect(task_, &UpdateTask::complete, this, [this] {
        // The checks report their refusal before the report that holds it, so where the run
        // failed is only known at its end.
        if (!failed_) {
            code_.clear();
        } else if (!reported_ || !report_.opened) {
            code_ = "package-unreadable";
        } else if (report_.refused) {
            const auto product = productTable.find(report_.product.toStdString());
            code_ = report_.productKnown && product != productTable.end()
                    && !isDeviceCompatible(product->second, desc_)
                ? "package-unfit"
                : "package-damaged";
        } else {
            // The device is opened right after the package has passed its checks.
            code_ = percent_ <= UpdatePlan::PackageChecked ? "access-denied" : "update-failed";
        }
        emit complete();
    });
}

UpdateJob::~UpdateJob() = default;

void UpdateJob::begin(const DeviceDescription &desc)
{
    desc_ = desc;
    failed_ = false;
    reported_ = false;
    report_ = PackageReport();
    percent_ = 0;
    code_.clear();
}

void UpdateJob::start(const DeviceDescription &desc, const QString &shown)
{
    begin(desc);
    emit task_->start(desc, shown);
}

void UpdateJob::startFile(const DeviceDescription &desc, const QByteArray &path)
{
    begin(desc);
    emit task_->startFile(desc, path);
}

void UpdateJob::check(const QByteArray &path)
{
    begin(DeviceDescription());
    emit task_->checkFile(path);
}
