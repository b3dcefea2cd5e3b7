#include "updaterepair.h"

#include "ui_updaterepair.h"

#include <QDebug>
#include <QListWidgetItem>
#include <QMessageBox>
#include <QVariant>

namespace {

constexpr int InputStatusIntervalMs = 2000;

QString hex4(uint16_t id)
{
    return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0'));
}

} // namespace

UpdateRepair::UpdateRepair(
    QWidget *parent, const DeviceFilter &filter, const QString &firmwarePath, bool autoUpdate)
    : QDialog(parent)
    , ui(std::make_unique<Ui::UpdateRepair>())
    , scanner(new DeviceScanner(this))
    , updateTask(new UpdateTask(this))
    , configTask(new ConfigDeviceTask(this))
    , flagsAction(new DeviceFlagsAction(configTask, this))
    , inputStatusAction(new InputStatusAction(configTask, this))
    , userModeAction(new UserModeAction(configTask, this))
    , deviceFilter(filter)
    , autoUpdate(autoUpdate)
{
    // The images live in this static library; registering them again is a no-op.
    Q_INIT_RESOURCE(resources);
    ui->setupUi(this);
    ui->firmwareLineEdit->setText(firmwarePath);
    ui->labelDoNotInterrupt->hide();
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    connect(scanner, &DeviceScanner::newDevice, this, &UpdateRepair::onNewDevice);
    connect(scanner, &DeviceScanner::complete, this, &UpdateRepair::onScanComplete);
    connect(scanner, &DeviceScanner::error, this, &UpdateRepair::onScanError);
    inputStatusTimer.setInterval(InputStatusIntervalMs);
    inputStatusTimer.start();

    ui->updateProgress->hide();
    refreshTabs();
    rescan();
}

UpdateRepair::~UpdateRepair() = default;

void UpdateRepair::setConfigReady(bool ready)
{
    configReady = ready;
    refreshTabs();
    if (ready)
        inputStatusTimer.start();
    else
        inputStatusTimer.stop();
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

void UpdateRepair::rescan()
{
    ui->devicesList->clear();
    ui->inputSignalLabel->setText(tr("device not selected"));
    setConfigReady(false);
    ui->updateProgress->hide();
    emit scanner->scan();
}

void UpdateRepair::on_rescanDevicesButton_clicked()
{
    rescan();
}

void UpdateRepair::on_devicesList_itemSelectionChanged()
{
    refreshTabs();
    ui->updateProgress->hide();
}

void UpdateRepair::onNewDevice(const DeviceDescription &desc)
{
    qDebug() << "New device" << desc.product;
    // One substitution pass: a product or serial string that holds "%1" is shown as it is.
    QString text = tr("%4 (%3, %5) [%1:%2]")
                       .arg(hex4(desc.vendorId), hex4(desc.productId), desc.serial, desc.product,
                           desc.version);
    if (!desc.modeText.isEmpty())
        text += tr(" (%1)").arg(desc.modeText);

    if (!deviceFilterAdmits(deviceFilter, desc)) {
        qDebug() << "New device filterred out";
        return;
    }
    auto *item = new QListWidgetItem(text);
    item->setData(Qt::UserRole, QVariant::fromValue(desc));
    ui->devicesList->addItem(item);
}

void UpdateRepair::onScanComplete()
{
    setConfigReady(true);
    if (ui->devicesList->count() != 1)
        return;
    // Selecting the row runs the selection handler; repeating its steps is harmless, as a
    // request it started has disabled the tab widget and no second one goes out.
    ui->devicesList->setCurrentRow(0);
    refreshTabs();
    ui->updateProgress->hide();
}

void UpdateRepair::onScanError(const QString &text)
{
    QMessageBox::warning(this, tr("Device Scanning Error"), text);
}
