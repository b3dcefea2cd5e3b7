#pragma once

#include "devicedescription.h"
#include "devicefilter.h"
#include "devicescanner.h"
#include "devicesettings.h"
#include "devicewatch.h"
#include "inputsignalpoller.h"
#include "updatejob.h"

#include <QByteArray>
#include <QDialog>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class QGroupBox;
class QSpinBox;

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
    // Asks for a package file: the path, or an empty string when the user cancelled.
    using FileChooser = std::function<QString(
        QWidget *parent, const QString &caption, const QString &folder, const QString &filter)>;

    // `pacing` is the update's waits; only tests shorten them.
    UpdateRepair(QWidget *parent, const DeviceFilter &filter, const QString &firmwarePath,
        bool autoUpdate, const UpdatePacing &pacing = {});
    // Stops the worker threads; an update in progress runs to its end first.
    ~UpdateRepair() override;

    // Replaces the platform's file-open dialog of the Firmware page.
    void setFileChooser(FileChooser chooser);
    // The package the command line named, by the bytes of its name: the Firmware field shows
    // it as text, and while the field still holds that text an update opens exactly this file.
    // A Linux file name need not be valid UTF-8, and the text alone may name another file.
    void setFirmwareFile(const QByteArray &path);
    // Whether the input signal is being polled: only while the window is ready.
    bool isPollingInputSignal() const { return inputSignal->isActive(); }

public slots:
    // Refused while an update runs: the window stays until the device is safe to unplug.
    void reject() override;
    // The session is ending (logout, shutdown, a closed terminal): quits the application at
    // once, or, while an update runs, as soon as it has ended.
    void endSession();

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void on_firmwareSelectButton_clicked();
    void on_rescanDevicesButton_clicked();
    void on_updateButton_clicked();
    void on_tabWidget_currentChanged(int index);
    void on_updateSettingsButton_clicked();
    void on_devicesList_itemSelectionChanged();
    void on_firmwareLineEdit_textChanged(const QString &text);
    void on_updateUserModesButton_clicked();
    void onNewDevice(const DeviceDescription &desc);
    void onScanComplete();
    void onScanError(const QString &text);
    void onUpdateProgress(int progress);
    void onUpdateComplete();
    void onUpdateError(const QString &text);
    void onSettingsFinished(const SettingsResult &result);
    void onInputStatusTimer();

private:
    void refreshTabs();
    // `keepOutcome`: a finished update's outcome stays shown through the scan (a rescan the
    // window started by itself, when devices came or went).
    void rescan(bool keepOutcome = false);
    void hideOutcome();
    bool currentDevice(DeviceDescription &out) const;
    // Ready: configuration requests may start, and the input signal is polled.
    void setConfigReady(bool ready);
    // The start of every request the user asks for; false (after telling why) when none can.
    bool beginDeviceRequest(DeviceDescription &out);
    // Reads the block of the current page when the page is one that shows device data.
    void requestPageData();
    // The group box and spin boxes of user mode 0, 1 or 2.
    struct UserModeWidgets {
        QGroupBox *box;
        QSpinBox *width;
        QSpinBox *height;
    };
    UserModeWidgets userModeWidgets(uint16_t index) const;
    void showUserMode(uint16_t index, const UserMode &mode);
    void warn(const QString &text);

    std::unique_ptr<Ui::UpdateRepair> ui;
    DeviceScanner *scanner;
    UpdateJob *updateJob;
    DeviceRequests *deviceRequests;
    DeviceSettings *settings;
    InputSignalPoller *inputSignal;
    DeviceWatch *deviceWatch;
    bool configReady = false;
    bool keepingOutcome = false;
    bool updateFailed = false;
    // The page whose request `settings` is carrying out, and whether it writes.
    QWidget *settingsPage = nullptr;
    bool settingsWriting = false;
    DeviceFilter deviceFilter;
    bool autoUpdate;
    // From the start of an update to its `complete`: the window refuses to close.
    bool updating = false;
    // The session ended during the update: the application quits at its `complete`.
    bool quitAfterUpdate = false;
    // The command line's package (see setFirmwareFile); null once the field was changed.
    QByteArray firmwareFile;
    QString firmwareFileText;
    FileChooser chooseFile;
};
