// Renders the main window on the virtual devices of examples/mixed-devices.json into PNG files
// for the README: the device list, the Settings and User Modes pages, and an update in progress.
// The real form and dialog, no hardware needed.
#include "bootimage.h"
#include "bytes.h"
#include "devicedescription.h"
#include "devicefile.h"
#include "devicescanner.h"
#include "picture.h"
#include "producttable.h"
#include "updaterepair.h"
#include "updatetask.h"
#include "zippackage.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

#include <cstdio>

using namespace std::chrono_literals;

namespace {

QString writePackage(testsupport::ZipPackage &zip)
{
    const ProductInfo &row = productTable.at("ospreyx3");
    zip.add("product.info", "ospreyx3\n");
    zip.add(row.microcodeImage, testsupport::patternBytes(64 * 1024, 1));
    zip.add(row.fpgaImage, testsupport::patternBytes(256 * 1024, 2));
    zip.add(row.sandboxImage,
        testsupport::bootImage({{0x40000000, testsupport::patternBytes(4096, 3)}}, 0x40000000));
    return zip.write("norby-3.4.0.fw");
}

using picture::waitFor;

bool save(QWidget &widget, const QString &folder, const char *name)
{
    return picture::save(widget, folder + '/' + name);
}

bool render(const QString &folder, const QString &package)
{
    // Slow steps, so that the update is caught halfway.
    UpdateRepair dialog(nullptr, DeviceFilter {}, package, false, {1500ms, 3000ms, 0ms, 2000ms});
    QSignalSpy scans(dialog.findChild<DeviceScanner *>(), &DeviceScanner::complete);
    QSignalSpy updates(dialog.findChild<UpdateTask *>(), &UpdateTask::complete);
    auto *tabs = dialog.findChild<QTabWidget *>("tabWidget");
    auto *signal = dialog.findChild<QLabel *>("inputSignalLabel");
    auto *progress = dialog.findChild<QProgressBar *>("updateProgress");
    const auto ready = [&] { return tabs->isEnabled(); };
    dialog.show();
    if (!waitFor([&] { return !scans.isEmpty(); }, "the scan"))
        return false;

    dialog.findChild<QListWidget *>("devicesList")->setCurrentRow(0);
    QMetaObject::invokeMethod(&dialog, "onInputStatusTimer");
    if (!waitFor([&] { return signal->text().contains('@'); }, "the input signal")
        || !save(dialog, folder, "screenshot.png"))
        return false;
    for (const char *page : {"tabSettings", "tabUserMode"}) {
        tabs->setCurrentWidget(dialog.findChild<QWidget *>(page));
        if (!waitFor(ready, page)
            || !save(dialog, folder,
                page == QLatin1String("tabSettings") ? "screenshot-settings.png"
                                                     : "screenshot-usermodes.png"))
            return false;
    }
    tabs->setCurrentWidget(dialog.findChild<QWidget *>("tabFirmware"));
    QMetaObject::invokeMethod(&dialog, "on_updateButton_clicked");
    // Caught in the pause after the FX3 microcode step.
    if (!waitFor([&] { return progress->value() >= 30; }, "the update")
        || !save(dialog, folder, "screenshot-update.png"))
        return false;
    return waitFor([&] { return !updates.isEmpty(); }, "the end of the update");
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT-FOLDER\n", argv[0]);
        return 2;
    }
    registerUsbMetaTypes();

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
    const QString package = writePackage(zip);
    // A box would stand in front of the pictures; it is closed and fails the run.
    testsupport::BoxWatcher boxes;
    const bool rendered = render(QString::fromLocal8Bit(argv[1]), package);
    return picture::exitStatus(rendered, boxes);
}
