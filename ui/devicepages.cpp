// The Settings and User Modes pages of the window, and its input-signal line: what the device
// settings and the poller of the session layer report, shown in the form.
#include "debuglog.h"
#include "ui_updaterepair.h"
#include "updaterepair.h"

#include <QDebug>
#include <QMessageBox>

// --- Settings and User Modes pages -----------------------------------------------------------

void UpdateRepair::on_tabWidget_currentChanged(int)
{
    requestPageData();
}

void UpdateRepair::requestPageData()
{
    // A disabled tab widget disables its pages: nothing goes out while a request is
    // outstanding, while scanning or updating, or for a page the device does not offer.
    QWidget *page = ui->tabWidget->currentWidget();
    if (ui->devicesList->currentRow() < 0 || !page || !page->isEnabled())
        return;
    if (page != ui->tabSettings && page != ui->tabUserMode)
        return;
    DeviceDescription desc;
    if (!beginDeviceRequest(desc))
        return;
    settingsPage = page;
    settingsWriting = false;
    if (page == ui->tabSettings)
        settings->readSwitches(desc);
    else
        settings->readUserModes(desc);
}

bool UpdateRepair::beginDeviceRequest(DeviceDescription &out)
{
    if (!currentDevice(out)) {
        warn(tr("Please select a device from the list"));
        return false;
    }
    setConfigReady(false);
    qCDebug(defaultLog) << "Selected device:" << out.product;
    return true;
}

void UpdateRepair::on_updateSettingsButton_clicked()
{
    DeviceDescription desc;
    if (!beginDeviceRequest(desc))
        return;
    settingsPage = ui->tabSettings;
    settingsWriting = true;
    settings->writeSwitches(desc,
        {ui->keepAspectRatioCheckBox->isChecked(), ui->performanceModeCheckBox->isChecked(),
            ui->audioSelectorCheckBox->isChecked()});
}

void UpdateRepair::on_updateUserModesButton_clicked()
{
    DeviceDescription desc;
    if (!beginDeviceRequest(desc))
        return;
    settingsPage = ui->tabUserMode;
    settingsWriting = true;
    UserModes modes {};
    for (uint16_t index = 0; index < UserModeCount; ++index) {
        const UserModeWidgets widgets = userModeWidgets(index);
        modes[index].width = uint16_t(widgets.width->value());
        modes[index].height = uint16_t(widgets.height->value());
        modes[index].disabled = widgets.box->isChecked() ? 0 : 1;
    }
    settings->writeUserModes(desc, modes);
}

void UpdateRepair::onSettingsFinished(const SettingsResult &result)
{
    setConfigReady(true);
    if (settingsPage == ui->tabSettings) {
        if (!result.error.isEmpty()) {
            qCDebug(defaultLog) << "Setting/getting flags error" << result.error;
            QMessageBox::critical(this, tr("Device Access Error"), result.error);
        }
        if (!result.ok)
            return;
        if (!settingsWriting) {
            ui->keepAspectRatioCheckBox->setChecked(result.switches[AspectRatioSwitch]);
            ui->performanceModeCheckBox->setChecked(result.switches[PerformanceSwitch]);
            ui->audioSelectorCheckBox->setChecked(result.switches[AudioSelectorSwitch]);
        }
        ui->tabSettings->setEnabled(true);
        return;
    }
    // The modes read before a failure are shown. A request that failed without an answer
    // leaves the page disabled; a failed write is the user's own change not reaching the
    // device, which is worth a box, a failed read is not.
    for (uint16_t index = 0; index < result.modesRead; ++index)
        showUserMode(index, result.modes[index]);
    if (!result.error.isEmpty())
        qCDebug(defaultLog) << "Setting/getting user mode error" << result.error;
    if (!result.error.isEmpty() && result.unanswered)
        ui->tabUserMode->setEnabled(false);
    if (!result.error.isEmpty() && settingsWriting)
        QMessageBox::critical(this, tr("Device Access Error"), result.error);
}

UpdateRepair::UserModeWidgets UpdateRepair::userModeWidgets(uint16_t index) const
{
    const UserModeWidgets all[] = {{ui->userMode1, ui->userMode1Width, ui->userMode1Height},
        {ui->userMode2, ui->userMode2Width, ui->userMode2Height},
        {ui->userMode3, ui->userMode3Width, ui->userMode3Height}};
    return all[index];
}

void UpdateRepair::showUserMode(uint16_t index, const UserMode &mode)
{
    const UserModeWidgets widgets = userModeWidgets(index);
    widgets.box->setChecked(mode.disabled == 0);
    widgets.width->setValue(mode.width);
    widgets.height->setValue(mode.height);
}

void UpdateRepair::onInputStatusTimer()
{
    inputSignal->readNow();
}
