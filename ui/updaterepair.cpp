#include "updaterepair.h"

#include "debuglog.h"
#include "devicerequests.h"
#include "deviceusers.h"
#include "packagefile.h"
#include "ui_updaterepair.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QListWidgetItem>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QVariant>

namespace {

const char FirmwarePathKey[] = "firmware/path";

} // namespace

UpdateRepair::UpdateRepair(QWidget *parent, const DeviceFilter &filter, const QString &firmwarePath,
    bool autoUpdate, const UpdatePacing &pacing)
    : QDialog(parent)
    , ui(std::make_unique<Ui::UpdateRepair>())
    , scanner(new DeviceScanner(this))
    , updateJob(new UpdateJob(this, pacing))
    , deviceRequests(new DeviceRequests(this))
    , settings(new DeviceSettings(*deviceRequests, this))
    , inputSignal(new InputSignalPoller(
          *deviceRequests, [this](DeviceDescription &desc) { return currentDevice(desc); }, this))
    , deviceWatch(new DeviceWatch(this))
    , deviceFilter(filter)
    , autoUpdate(autoUpdate)
    , chooseFile([](QWidget *parent, const QString &caption, const QString &folder,
                     const QString &filter) {
        return QFileDialog::getOpenFileName(parent, caption, folder, filter);
    })
{
    // The images live in this static library; registering them again is a no-op.
    Q_INIT_RESOURCE(resources);
    ui->setupUi(this);
    // A dialog's push buttons are auto-default, and Enter anywhere in the window would click
    // one: UPDATE flashing, or Apply writing, the device with no one having asked for it.
    for (QPushButton *button : findChildren<QPushButton *>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    ui->firmwareLineEdit->setText(firmwarePath);
    // An empty path sends no textChanged; UPDATE follows the field from the start.
    on_firmwareLineEdit_textChanged(ui->firmwareLineEdit->text());
    ui->labelDoNotInterrupt->hide();
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    connect(scanner, &DeviceScanner::newDevice, this, &UpdateRepair::onNewDevice);
    connect(scanner, &DeviceScanner::complete, this, &UpdateRepair::onScanComplete);
    connect(scanner, &DeviceScanner::error, this, &UpdateRepair::onScanError);
    connect(updateJob, &UpdateJob::progress, this, &UpdateRepair::onUpdateProgress);
    connect(updateJob, &UpdateJob::complete, this, &UpdateRepair::onUpdateComplete);
    connect(updateJob, &UpdateJob::error, this, &UpdateRepair::onUpdateError);
    connect(settings, &DeviceSettings::finished, this, &UpdateRepair::onSettingsFinished);
    // The list follows the plug; the rescan button stays for where libusb cannot tell.
    connect(deviceWatch, &DeviceWatch::rescanWanted, this, [this] { rescan(true); });
    // A failed poll needs no box: its text says "request not supported". A poll answered after
    // a rescan emptied the list is of a device no longer selected.
    connect(
        inputSignal, &InputSignalPoller::reading, this, [this](const InputSignalReading &reading) {
            if (ui->devicesList->currentRow() >= 0)
                ui->inputSignalLabel->setText(reading.text);
        });
    inputSignal->start();

    ui->updateProgress->hide();
    refreshTabs();
    rescan();
}

UpdateRepair::~UpdateRepair() = default;

void UpdateRepair::setFileChooser(FileChooser chooser)
{
    chooseFile = std::move(chooser);
}

void UpdateRepair::setFirmwareFile(const QByteArray &path)
{
    if (path.isNull())
        return;
    firmwareFileText = packagefile::text(path);
    firmwareFile = path;
    ui->firmwareLineEdit->setText(firmwareFileText);
}

void UpdateRepair::endSession()
{
    // Cut off half-way, a flash leaves a device that does not start again: the update is
    // finished first.
    if (!updating) {
        QCoreApplication::quit();
        return;
    }
    quitAfterUpdate = true;
    ui->labelDoNotInterrupt->setText(tr("DO NOT INTERRUPT") + QLatin1Char('\n')
        + tr("The update goes on; the program ends when it has ended."));
}

void UpdateRepair::reject()
{
    if (!updating)
        QDialog::reject();
}

void UpdateRepair::closeEvent(QCloseEvent *event)
{
    // The window manager still closes a disabled window. Gone from the screen in the middle
    // of a flash, the tool would look finished, and a device unplugged then is bricked.
    if (updating) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void UpdateRepair::warn(const QString &text)
{
    QMessageBox::warning(this, tr("Lumexor Updater"), text);
}

void UpdateRepair::setConfigReady(bool ready)
{
    configReady = ready;
    // Not ready: a request, a scan or an update runs, and a rescan would cut into it.
    deviceWatch->setBusy(!ready);
    refreshTabs();
    if (ready)
        inputSignal->start();
    else
        inputSignal->stop();
}

void UpdateRepair::refreshTabs()
{
    if (!configReady || ui->devicesList->currentRow() < 0) {
        ui->tabWidget->setEnabled(false);
        return;
    }
    ui->tabWidget->setEnabled(true);
    DeviceDescription desc;
    currentDevice(desc);
    const uint32_t caps = desc.capabilities;
    ui->tabSettings->setEnabled(caps & CapDeviceSettings);
    ui->keepAspectRatioCheckBox->setEnabled(caps & CapAspectRatio);
    ui->performanceModeCheckBox->setEnabled(caps & CapPerformanceMode);
    ui->audioSelectorCheckBox->setEnabled(caps & CapAudioSelector);
    ui->tabUserMode->setEnabled(caps & CapUserModes);
}

bool UpdateRepair::currentDevice(DeviceDescription &out) const
{
    const QListWidgetItem *item = ui->devicesList->currentItem();
    if (!item)
        return false;
    const QVariant data = item->data(Qt::UserRole);
    out = data.canConvert<DeviceDescription>() ? data.value<DeviceDescription>()
                                               : DeviceDescription();
    return true;
}

void UpdateRepair::rescan(bool keepOutcome)
{
    keepingOutcome = keepOutcome;
    deviceWatch->rescanStarted();
    ui->devicesList->clear();
    ui->inputSignalLabel->setText(tr("device not selected"));
    setConfigReady(false);
    hideOutcome();
    emit scanner->scan();
}

void UpdateRepair::hideOutcome()
{
    if (!keepingOutcome)
        ui->updateProgress->hide();
}

void UpdateRepair::on_rescanDevicesButton_clicked()
{
    rescan();
}

void UpdateRepair::on_devicesList_itemSelectionChanged()
{
    refreshTabs();
    requestPageData();
    hideOutcome();
}

void UpdateRepair::onNewDevice(const DeviceDescription &desc)
{
    qCDebug(defaultLog) << "New device" << desc.product;
    // One substitution pass: a product or serial string that holds "%1" is shown as it is.
    QString text = tr("%4 (%3, %5) [%1:%2]")
                       .arg(hexId(desc.vendorId), hexId(desc.productId), desc.serial, desc.product,
                           desc.version);
    if (!desc.modeText.isEmpty())
        text += tr(" (%1)").arg(desc.modeText);

    if (!deviceFilterAdmits(deviceFilter, desc)) {
        qCDebug(defaultLog) << "New device filterred out";
        return;
    }
    auto *item = new QListWidgetItem(text);
    item->setData(Qt::UserRole, QVariant::fromValue(desc));
    ui->devicesList->addItem(item);
}

void UpdateRepair::onScanComplete()
{
    setConfigReady(true);
    if (ui->devicesList->count() != 1) {
        keepingOutcome = false;
        return;
    }
    // Selecting the row runs the selection handler; repeating its steps is harmless, as a
    // request it started has disabled the tab widget and no second one goes out.
    ui->devicesList->setCurrentRow(0);
    refreshTabs();
    requestPageData();
    hideOutcome();
    keepingOutcome = false;

    // The command line's update runs once per process, on the first scan that finds exactly
    // one device.
    if (autoUpdate && !ui->firmwareLineEdit->text().isEmpty()) {
        autoUpdate = false;
        on_updateButton_clicked();
    }
}

void UpdateRepair::onScanError(const QString &text)
{
    QMessageBox::warning(this, tr("Device Scanning Error"), text);
}

// --- Firmware page ---------------------------------------------------------------------------

void UpdateRepair::on_firmwareSelectButton_clicked()
{
    QSettings settings;
    const QString folder = settings.value(FirmwarePathKey).toString();
    const QString file = chooseFile(
        this, tr("Select firmware update file"), folder, tr("Firmware files (*.fw);; All (*)"));
    if (file.isEmpty())
        return;
    // The file dialog gives text, which the update resolves to the file's bytes itself; the
    // command line's bytes no longer apply, even to the same text.
    firmwareFile = QByteArray();
    ui->firmwareLineEdit->setText(file);
    const QString chosenFolder = QFileInfo(file).canonicalPath();
    if (!chosenFolder.isEmpty())
        settings.setValue(FirmwarePathKey, chosenFolder);
}

void UpdateRepair::on_firmwareLineEdit_textChanged(const QString &text)
{
    if (text != firmwareFileText)
        firmwareFile = QByteArray();
    ui->updateButton->setEnabled(!text.isEmpty());
}

void UpdateRepair::on_updateButton_clicked()
{
    ui->updateProgress->setFormat(QStringLiteral("%p%"));
    DeviceDescription desc;
    if (!currentDevice(desc)) {
        warn(tr("Please select a device from the list"));
        return;
    }
    const QString package = ui->firmwareLineEdit->text();
    if (package.isEmpty()) {
        warn(tr("Please select the firmware file"));
        return;
    }
    // No request or poll starts while the window asks or flashes.
    const bool wasReady = configReady;
    setConfigReady(false);
    // The update restarts the device: a capture application recording from it loses its
    // video. Nothing is written unless the user says so.
    const QStringList users = deviceUsers(desc);
    if (!users.isEmpty()) {
        QMessageBox box(QMessageBox::Question, tr("Device in use"),
            tr("The device is in use by %1. The update restarts the device, which ends their "
               "capture.\n\nUpdate anyway?")
                .arg(users.join(QStringLiteral(", "))),
            QMessageBox::Yes | QMessageBox::No, this);
        box.setDefaultButton(QMessageBox::No);
        box.setTextFormat(Qt::PlainText);
        if (box.exec() != QMessageBox::Yes) {
            setConfigReady(wasReady);
            return;
        }
    }
    qCDebug(defaultLog) << "Selected device:" << desc.product;

    updateFailed = false;
    updating = true;
    setEnabled(false);
    ui->updateProgress->show();
    ui->labelDoNotInterrupt->setText(tr("DO NOT INTERRUPT"));
    ui->labelDoNotInterrupt->show();
    ui->updateProgress->reset();
    if (!firmwareFile.isNull())
        updateJob->startFile(desc, firmwareFile);
    else
        updateJob->start(desc, package);
}

void UpdateRepair::onUpdateProgress(int progress)
{
    ui->updateProgress->setValue(progress);
}

void UpdateRepair::onUpdateError(const QString &text)
{
    qCDebug(defaultLog) << "Update error" << text;
    ui->updateProgress->setFormat(tr("Update Error"));
    ui->labelDoNotInterrupt->setText(tr("Do not disconnect. Retry. Call Support."));
    updateFailed = true;
    // The task's `complete` follows at once and is handled inside this box's event loop, so
    // the window is usable again while the box is still open.
    QMessageBox::critical(this, tr("Update Error"), text);
}

void UpdateRepair::onUpdateComplete()
{
    if (!updateFailed) {
        ui->updateProgress->setFormat(tr("Update Completed"));
        ui->labelDoNotInterrupt->hide();
    }
    updating = false;
    setConfigReady(true);
    setEnabled(true);
    // Quitting also ends the event loop of an error box still open, which no one is left to
    // close.
    if (quitAfterUpdate)
        QCoreApplication::quit();
}
