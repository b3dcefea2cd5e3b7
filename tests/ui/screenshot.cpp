// Renders the main window on a few virtual devices into PNG files for the README: the device
// list, the Settings and User Modes pages, and an update in progress. The real form and
// dialog, no hardware needed.
#include "bootimage.h"
#include "boxwatcher.h"
#include "bytes.h"
#include "devicedescription.h"
#include "devicescanner.h"
#include "norbydevice.h"
#include "producttable.h"
#include "updaterepair.h"
#include "updatetask.h"
#include "virtualbus.h"
#include "zippackage.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

using namespace std::chrono_literals;

namespace {

std::shared_ptr<vdev::NorbyDevice> device(
    uint16_t family, vdev::NorbyState state, const char *product, std::optional<std::string> serial)
{
    vdev::NorbyDevice::Config config;
    config.familyId = family;
    config.state = state;
    config.product = product;
    config.serial = serial;
    config.version = "3.4.0";
    return std::make_shared<vdev::NorbyDevice>(config);
}

// What the first device shows on its pages.
void fillSettings(vdev::NorbySettings &settings)
{
    settings.setFlags(0x02);
    settings.setUserMode(0, {0x80, 0x07, 0x38, 0x04, 0}); // 1920x1080
    settings.setUserMode(1, {0x00, 0x05, 0xd0, 0x02, 0}); // 1280x720
    settings.setUserMode(2, {0x00, 0x00, 0x00, 0x00, 1});
    vdev::NorbySettings::InputStatusBlock status {};
    std::memcpy(status.data(), "YUY2", 4);
    std::memcpy(status.data() + 12, "HDMI", 4);
    const uint32_t milliHz = 59940;
    std::memcpy(status.data() + 20, &milliHz, 4);
    status[24] = 0x80, status[25] = 0x07, status[26] = 0x38, status[27] = 0x04;
    settings.setInputStatus(status);
}

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

bool waitFor(const std::function<bool()> &condition, const char *what)
{
    if (QTest::qWaitFor(condition, 10000))
        return true;
    std::fprintf(stderr, "gave up waiting for %s\n", what);
    return false;
}

bool save(QWidget &widget, const QString &folder, const char *name)
{
    QApplication::processEvents();
    const QString path = folder + '/' + name;
    if (widget.grab().save(path))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
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

    vusb::Bus &bus = vusb::Bus::instance();
    const vusb::NodeId root = bus.addRootHub(2);
    const vusb::NodeId hub = bus.addHub(root, 1);
    const auto first = device(0x3620, vdev::NorbyState::Application, "OSPREYX3", "OX3C0417");
    fillSettings(first->settings());
    bus.plug(hub, 1, first);
    bus.plug(hub, 2, device(0x3600, vdev::NorbyState::Application, "KESTREL3", "K3A81F02"));
    bus.plug(root, 3, device(0x3640, vdev::NorbyState::SoftRepair, "KESTREL3 4K", std::nullopt));

    testsupport::ZipPackage zip;
    const QString package = writePackage(zip);
    // A box would stand in front of the pictures; it is closed and fails the run.
    testsupport::BoxWatcher boxes;
    const bool rendered = render(QString::fromLocal8Bit(argv[1]), package);
    const QStringList unexpected = boxes.takeLines();
    for (const QString &box : unexpected)
        std::fprintf(stderr, "unexpected box: %s\n", qPrintable(box));
    return rendered && unexpected.isEmpty() ? 0 : 1;
}
