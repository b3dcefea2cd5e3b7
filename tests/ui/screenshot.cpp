// Renders the main window with a few devices on the virtual bus into a PNG, for the README:
// the real form and dialog, no hardware needed.
#include "devicedescription.h"
#include "devicescanner.h"
#include "norbydevice.h"
#include "updaterepair.h"
#include "virtualbus.h"

#include <QApplication>
#include <QListWidget>
#include <QSignalSpy>
#include <QTest>

#include <cstdio>
#include <optional>
#include <string>

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

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    registerUsbMetaTypes();

    vusb::Bus &bus = vusb::Bus::instance();
    const vusb::NodeId root = bus.addRootHub(2);
    const vusb::NodeId hub = bus.addHub(root, 1);
    bus.plug(hub, 1, device(0x3600, vdev::NorbyState::Application, "KESTREL3", "K3A81F02"));
    bus.plug(hub, 2, device(0x3620, vdev::NorbyState::Application, "OSPREYX3", "OX3C0417"));
    bus.plug(root, 3, device(0x3640, vdev::NorbyState::SoftRepair, "KESTREL3 4K", std::nullopt));

    int status = 1;
    {
        UpdateRepair dialog(nullptr, DeviceFilter {}, "/home/user/firmware/norby-3.4.0.fw", false);
        QSignalSpy scans(dialog.findChild<DeviceScanner *>(), &DeviceScanner::complete);
        dialog.show();
        if (QTest::qWaitFor([&] { return !scans.isEmpty(); }, 10000)) {
            dialog.findChild<QListWidget *>("devicesList")->setCurrentRow(0);
            QApplication::processEvents();
            status = dialog.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
        } else {
            std::fprintf(stderr, "the scan did not end\n");
        }
    }
    return status;
}
