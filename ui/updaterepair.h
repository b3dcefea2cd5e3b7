#pragma once

#include "configdeviceactions.h"
#include "configdevicetask.h"
#include "devicedescription.h"
#include "devicefilter.h"
#include "devicescanner.h"
#include "updatetask.h"

#include <QDialog>
#include <QString>
#include <QTimer>

#include <memory>

namespace Ui {
class UpdateRepair;
}

// The application's one window: the devices that pass the command-line filter, and for the
// selected one its firmware update and its settings. Every USB exchange runs on the threads of
// the scanner and the two tasks; the window only emits their requests and shows their results,
// so it never waits for a device.
class UpdateRepair : public QDialog
{
    Q_OBJECT

public:
    UpdateRepair(
        QWidget *parent, const DeviceFilter &filter, const QString &firmwarePath, bool autoUpdate);
    // Stops the worker threads; an update in progress runs to its end first.
    ~UpdateRepair() override;

private slots:
    void on_rescanDevicesButton_clicked();
    void on_devicesList_itemSelectionChanged();
    void onNewDevice(const DeviceDescription &desc);
    void onScanComplete();
    void onScanError(const QString &text);

private:
    void refreshTabs();
    void rescan();
    bool currentDevice(DeviceDescription &out) const;
    // Ready: configuration requests may start, and the input signal is polled.
    void setConfigReady(bool ready);

    std::unique_ptr<Ui::UpdateRepair> ui;
    DeviceScanner *scanner;
    UpdateTask *updateTask;
    ConfigDeviceTask *configTask;
    DeviceFlagsAction *flagsAction;
    InputStatusAction *inputStatusAction;
    UserModeAction *userModeAction;
    bool configReady = false;
    DeviceFilter deviceFilter;
    bool autoUpdate;
    QTimer inputStatusTimer;
};
