// Draws the window into a PNG file where there is no screen to show it on: scripts/demo uses it
// to show, without a display, the window as it stands after the command-line update.
//
//     lumexor-window-picture OUTPUT.png [WINDOW-OPTIONS...]
//
// Like lumexor-capture-config it links the system's libusb, so started with the drop-in library
// of build/virtual-usb first on LD_LIBRARY_PATH it sees the devices of LUMEXOR_VIRTUAL_DEVICES
// with the flash and settings kept in LUMEXOR_VIRTUAL_STATE: what the earlier programs of the
// same environment left. WINDOW-OPTIONS are the window's own (-firmware, -vid, -pid, -serial);
// -update is not followed, as a picture should not flash anything.
#include "commandline.h"
#include "devicedescription.h"
#include "identity.h"
#include "libusbguard.h"
#include "picture.h"
#include "updaterepair.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QTabWidget>
#include <QTest>

#include <cstdio>

namespace {

using picture::waitFor;

// A slow virtual device (answer delays, busy polls) takes seconds to scan; a bound that such a
// device stays well within, and that still ends a run whose device never answers.
constexpr int WaitLimitMs = 60000;

bool draw(UpdateRepair &dialog, const QString &output)
{
    auto *devices = dialog.findChild<QListWidget *>("devicesList");
    auto *tabs = dialog.findChild<QTabWidget *>("tabWidget");
    auto *signal = dialog.findChild<QLabel *>("inputSignalLabel");
    dialog.show();
    // Polling stops while a scan runs and starts again when it has completed.
    if (!waitFor([&] { return dialog.isPollingInputSignal(); }, "the device scan", WaitLimitMs))
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
            "the device's input signal", WaitLimitMs))
        return false;

    return picture::save(dialog, output);
}

} // namespace

int main(int argc, char *argv[])
{
    // Drawn into memory, so no display is needed; QT_QPA_PLATFORM still chooses another.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const LibusbGuard libusb;
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png [WINDOW-OPTIONS...]\n", argv[0]);
        return 2;
    }
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    QApplication::setOrganizationName(QString::fromLatin1(identity::OrganizationName));
    QApplication::setApplicationName(QString::fromLatin1(identity::ApplicationName));
    QApplication::setOrganizationDomain(QString::fromLatin1(identity::OrganizationDomain));
    registerUsbMetaTypes();

    // The window's parser takes its first argument for the program's name: here the output.
    const CommandLine line = parseCommandLine(argc - 1, argv + 1);
    const QString output = QString::fromLocal8Bit(argv[1]);
    // A box would stand in front of the picture; it is closed and fails the run.
    testsupport::BoxWatcher boxes;
    bool drawn = false;
    {
        UpdateRepair dialog(nullptr, line.filter, line.firmwarePath, false);
        drawn = draw(dialog, output);
    }
    return picture::exitStatus(drawn, boxes);
}
