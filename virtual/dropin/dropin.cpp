// The drop-in libusb-1.0: the virtual USB bus built as a shared library under libusb's soname,
// so that the unchanged program, started with this library's folder first on LD_LIBRARY_PATH,
// sees virtual devices instead of real ones. The devices come from the JSON file named by
// LUMEXOR_VIRTUAL_DEVICES (one KESTREL3 when it is unset), keep their flash and settings in the
// folder named by LUMEXOR_VIRTUAL_STATE, and LUMEXOR_VIRTUAL_LOG receives one line per control
// transfer. See docs/virtual-devices.md.

#include "devicefile.h"
#include "statestore.h"
#include "virtualbus.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

namespace {

struct Device {
    QString location;
    std::shared_ptr<vdev::NorbyDevice> model;
    std::unique_ptr<DeviceStateStore> store;
};

// The library stands in for libusb's default context, which is process-wide too. Built once,
// on the first libusb_init; read afterwards only by the transfer observer, which the bus calls
// under its own lock.
std::once_flag started;
std::map<vusb::NodeId, Device> devices;
FILE *transferLog = nullptr;

QString environment(const char *name)
{
    return QString::fromLocal8Bit(std::getenv(name));
}

void say(const QString &line)
{
    std::fprintf(stderr, "lumexor virtual bus: %s\n", qPrintable(line));
}

void plug(
    vusb::Bus &bus, const VirtualDeviceSpec &spec, const QString &stateFolder, HubPlaces &hubs)
{
    Device device {spec.location(), nullptr, nullptr};
    device.store = std::make_unique<DeviceStateStore>(stateFolder, device.location);
    device.model = makeDevice(spec, device.store->hasMicrocode());
    device.store->restore(*device.model); // what was saved wins over the file's settings
    const vusb::NodeId node = plugDevice(bus, spec, device.model, hubs);
    devices.emplace(node, std::move(device));
}

void observe(const vusb::TransferRecord &t, vdev::UsbDeviceModel &)
{
    const auto it = devices.find(t.node);
    if (it == devices.end())
        return;
    it->second.store->saveChanges(*it->second.model);
    if (!transferLog)
        return;
    const QByteArray data(reinterpret_cast<const char *>(t.data.data()), int(t.data.size()));
    std::fprintf(transferLog, "%s %02x %02x %d %d %d %u: %s -> %d\n",
        qPrintable(it->second.location), t.requestType, t.request, t.value, t.index, t.length,
        t.timeout, data.toHex(' ').constData(), t.result);
    std::fflush(transferLog);
}

void start()
{
    vusb::Bus &bus = vusb::Bus::instance();
    const QString deviceFile = environment("LUMEXOR_VIRTUAL_DEVICES");
    const QString stateFolder = environment("LUMEXOR_VIRTUAL_STATE");
    const QString logFile = environment("LUMEXOR_VIRTUAL_LOG");

    std::vector<VirtualDeviceSpec> specs;
    if (deviceFile.isEmpty()) {
        specs = defaultDevices();
    } else {
        QString error;
        if (std::optional<std::vector<VirtualDeviceSpec>> read = readDeviceFile(deviceFile, error))
            specs = std::move(*read);
        else
            say(error + " - no virtual devices");
    }
    say(QString("this libusb-1.0 is the virtual USB bus of Lumexor Capture Config: %1 device(s) "
                "from %2%3")
            .arg(specs.size())
            .arg(deviceFile.isEmpty() ? QString("the defaults") : deviceFile)
            .arg(stateFolder.isEmpty() ? QString(", nothing kept")
                                       : QString(", kept in ") + stateFolder));

    if (!logFile.isEmpty()) {
        transferLog = std::fopen(QFile::encodeName(logFile).constData(), "w");
        if (!transferLog)
            say("cannot write the transfer log " + logFile);
    }
    HubPlaces hubs;
    for (const VirtualDeviceSpec &spec : specs)
        plug(bus, spec, stateFolder, hubs);
    bus.setRecordTransfers(false); // a long run would keep every flashed byte
    bus.setTransferObserver(observe);
}

} // namespace

extern "C" void lumexorVirtualBusStart()
{
    std::call_once(started, start);
}
