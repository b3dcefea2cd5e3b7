// Draws the window into PNG files where there is no screen to show it on. One source, two
// programs:
//
//     lumexor-window-picture OUTPUT.png [--after-change COMMAND CHANGED.png] [WINDOW-OPTIONS...]
//     lumexor-screenshot OUTPUT-FOLDER
//
// lumexor-window-picture links the system's libusb as lumexor-capture-config does, so started
// with the drop-in library of build/virtual-usb first on LD_LIBRARY_PATH it sees the devices of
// LUMEXOR_VIRTUAL_DEVICES with the flash and settings kept in LUMEXOR_VIRTUAL_STATE: scripts/demo
// shows with it, without a display, the window as the command-line steps left it. With
// --after-change it then runs COMMAND (a shell command that plugs or unplugs a device, such as
// scripts/virtual-plug) and draws CHANGED.png once the window's list has followed by itself.
// WINDOW-OPTIONS are the window's own (-firmware, -vid, -pid, -serial); -update is not followed,
// as a picture should not flash anything.
//
// lumexor-screenshot (built with LUMEXOR_SCREENSHOT_DEVICES) runs on the virtual bus in-process,
// with the devices of examples/mixed-devices.json and a package of its own, and draws the README's
// pictures for scripts/screenshot: the device list, the Settings and User Modes pages, and an
// update in progress.
#include "boxwatcher.h"
#include "commandline.h"
#include "devicedescription.h"
#include "identity.h"
#include "libusbguard.h"
#include "updaterepair.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

#include <cstdio>
#include <functional>

#ifdef LUMEXOR_SCREENSHOT_DEVICES
#include "devicefile.h"
#include "updatepackages.h"
#endif

using namespace std::chrono_literals;

namespace {

// A slow virtual device (answer delays, busy polls) takes seconds to scan; a bound that such a
// device stays well within, and that still ends a run whose device never answers.
constexpr int WaitLimitMs = 60000;

bool waitFor(const std::function<bool()> &condition, const char *what)
{
    if (QTest::qWaitFor(condition, WaitLimitMs))
        return true;
    std::fprintf(stderr, "gave up waiting for %s\n", what);
    return false;
}

bool save(QWidget &widget, const QString &path)
{
    QCoreApplication::processEvents();
    if (widget.grab().save(path, "PNG"))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

// The window as it stands once its devices are listed and the first one's input signal is read.
bool draw(UpdateRepair &dialog, const QString &output)
{
    auto *devices = dialog.findChild<QListWidget *>("devicesList");
    auto *tabs = dialog.findChild<QTabWidget *>("tabWidget");
    auto *signal = dialog.findChild<QLabel *>("inputSignalLabel");
    dialog.show();
    // Polling stops while a scan runs and starts again when it has completed.
    if (!waitFor([&] { return dialog.isPollingInputSignal(); }, "the device scan"))
        return false;
    if (devices->count() == 0) {
        std::fprintf(stderr, "no device listed\n");
        return false;
    }
    // The window selects a lone device by itself; of several, the first is the one the
    // command line was shown on.
    if (devices->currentRow() < 0)
        devices->setCurrentRow(0);
    // The input signal is read now rather than at the next poll, seconds away.
    const QString unread = signal->text();
    QMetaObject::invokeMethod(&dialog, "onInputStatusTimer");
    if (!waitFor([&] { return signal->text() != unread && tabs->isEnabled(); },
            "the device's input signal"))
        return false;
    return save(dialog, output);
}

#ifndef LUMEXOR_SCREENSHOT_DEVICES
// Runs `command`, then draws the window once its list has changed and been scanned again, which
// the window does by itself when the bus reports the change: nobody presses the rescan button.
bool drawAfterChange(UpdateRepair &dialog, const QString &command, const QString &output)
{
    auto *devices = dialog.findChild<QListWidget *>("devicesList");
    const int listed = devices->count();
    if (QProcess::execute("/bin/sh", {"-c", command}) != 0) {
        std::fprintf(stderr, "%s failed\n", qPrintable(command));
        return false;
    }
    // A rescan empties the list first and polls no input signal until it has completed.
    if (!waitFor([&] { return devices->count() != listed && dialog.isPollingInputSignal(); },
            "the window to follow the change"))
        return false;
    return draw(dialog, output);
}
#endif

#ifdef LUMEXOR_SCREENSHOT_DEVICES
// After the device list: the two settings pages, then an update caught halfway.
bool drawPages(UpdateRepair &dialog, const QString &folder)
{
    QSignalSpy updates(dialog.findChild<UpdateTask *>(), &UpdateTask::complete);
    auto *tabs = dialog.findChild<QTabWidget *>("tabWidget");
    auto *progress = dialog.findChild<QProgressBar *>("updateProgress");
    for (const char *page : {"tabSettings", "tabUserMode"}) {
        tabs->setCurrentWidget(dialog.findChild<QWidget *>(page));
        if (!waitFor([&] { return tabs->isEnabled(); }, page)
            || !save(dialog,
                folder
                    + (page == QLatin1String("tabSettings") ? "/screenshot-settings.png"
                                                            : "/screenshot-usermodes.png")))
            return false;
    }
    tabs->setCurrentWidget(dialog.findChild<QWidget *>("tabFirmware"));
    QMetaObject::invokeMethod(&dialog, "on_updateButton_clicked");
    // Caught in the pause after the FX3 microcode step.
    if (!waitFor([&] { return progress->value() >= 30; }, "the update")
        || !save(dialog, folder + "/screenshot-update.png"))
        return false;
    return waitFor([&] { return !updates.isEmpty(); }, "the end of the update");
}
#endif

} // namespace

int main(int argc, char *argv[])
{
    // Drawn into memory, so no display is needed; QT_QPA_PLATFORM still chooses another.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const LibusbGuard libusb;
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT [WINDOW-OPTIONS...]\n", argv[0]);
        return 2;
    }
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    QApplication::setOrganizationName(QString::fromLatin1(identity::OrganizationName));
    QApplication::setApplicationName(QString::fromLatin1(identity::ApplicationName));
    QApplication::setOrganizationDomain(QString::fromLatin1(identity::OrganizationDomain));
    registerUsbMetaTypes();

    const QString output = QString::fromLocal8Bit(argv[1]);
    QString change, changed;
    int skip = 1;
    if (argc >= 5 && argv[2] == QLatin1String("--after-change")) {
        change = QString::fromLocal8Bit(argv[3]);
        changed = QString::fromLocal8Bit(argv[4]);
        skip = 4;
    }
    // The window's parser takes its first argument for the program's name: here the last one
    // of the picture's own.
    CommandLine line = parseCommandLine(argc - skip, argv + skip);
    UpdatePacing pacing;
#ifdef LUMEXOR_SCREENSHOT_DEVICES
    // The devices of the demo's example file, on the bus the drop-in library would build.
    QString error;
    const auto specs = readDeviceFile(LUMEXOR_SCREENSHOT_DEVICES, error);
    if (!specs) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    HubPlaces hubs;
    for (const VirtualDeviceSpec &spec : *specs)
        plugDevice(vusb::Bus::instance(), spec, makeDevice(spec), hubs);
    testsupport::ZipPackage zip;
    line.firmwarePath = zip.folder() + "/norby-3.4.0.fw"; // the name the picture shows
    QFile::rename(testsupport::writeUpdatePackage(zip, "ospreyx3"), line.firmwarePath);
    // Slow steps, so that the update is caught halfway.
    pacing = {1500ms, 3000ms, 0ms, 2000ms};
#endif
    // A box would stand in front of the pictures; it is closed and fails the run.
    testsupport::BoxWatcher boxes;
    bool drawn = false;
    {
        UpdateRepair dialog(nullptr, line.filter, line.firmwarePath, false, pacing);
#ifdef LUMEXOR_SCREENSHOT_DEVICES
        drawn = draw(dialog, output + "/screenshot.png") && drawPages(dialog, output);
#else
        drawn = draw(dialog, output)
            && (change.isEmpty() || drawAfterChange(dialog, change, changed));
#endif
    }
    const QStringList unexpected = boxes.takeLines();
    for (const QString &box : unexpected)
        std::fprintf(stderr, "unexpected box: %s\n", qPrintable(box));
    return drawn && unexpected.isEmpty() ? 0 : 1;
}
