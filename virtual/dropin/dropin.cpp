// The drop-in libusb-1.0: the virtual USB bus built as a shared library under libusb's soname,
// so that the unchanged program, started with this library's folder first on LD_LIBRARY_PATH,
// sees virtual devices instead of real ones. The devices come from the JSON file named by
// LUMEXOR_VIRTUAL_DEVICES (one KESTREL3 when it is unset), keep their flash and settings in the
// folder named by LUMEXOR_VIRTUAL_STATE, and LUMEXOR_VIRTUAL_LOG receives one line per control
// transfer. A change of the device file while the program runs plugs and unplugs the devices
// whose places it adds or drops, as hotplug arrivals and departures. See docs/virtual-devices.md.

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
#include <set>
#include <sys/stat.h>
#include <tuple>

namespace {

struct Device {
    QString location;
    std::shared_ptr<vdev::NorbyDevice> model;
    std::unique_ptr<DeviceStateStore> store;
};

// The library stands in for libusb's default context, which is process-wide too. Built on the
// first libusb_init; changed afterwards only by the watch of the device file and read by the
// transfer observer, both under the bus's lock.
std::once_flag started;
std::map<vusb::NodeId, Device> devices;
FILE *transferLog = nullptr;

// What tells a new device file from the one last read: a program that rewrites it whole
// (scripts/virtual-plug) renames a new file over it.
using FileStamp = std::tuple<ino_t, off_t, time_t, long>;

FileStamp stampOf(const QString &path)
{
    struct stat st {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

// The device file being watched (none with the defaults), where state is kept, and the hubs
// made so far; guarded by watchMutex.
std::mutex watchMutex;
QString watchedFile;
FileStamp watchedStamp;
QString keptIn;
HubPlaces hubs;

QString environment(const char *name)
{
    return QString::fromLocal8Bit(std::getenv(name));
}

void say(const QString &line)
{
    std::fprintf(stderr, "lumexor virtual bus: %s\n", qPrintable(line));
}

void plug(vusb::Bus &bus, const VirtualDeviceSpec &spec)
{
    Device device {spec.location(), nullptr, nullptr};
    device.store = std::make_unique<DeviceStateStore>(keptIn, device.location);
    device.model = makeDevice(spec, device.store->hasMicrocode());
    device.store->restore(*device.model); // what was saved wins over the file's settings
    const vusb::NodeId node = plugDevice(bus, spec, device.model, hubs);
    bus.locked([&] { devices.emplace(node, std::move(device)); });
}

// Called by every libusb_handle_events_timeout_completed: a device file that changed is read
// again; a device whose place it no longer names leaves the bus, one at a new place arrives.
// Devices that stay keep their state, whatever else of them the file changed.
void watch()
{
    std::unique_lock<std::mutex> lock(watchMutex, std::try_to_lock);
    if (!lock || watchedFile.isEmpty())
        return;
    const FileStamp stamp = stampOf(watchedFile);
    if (stamp == watchedStamp)
        return;
    watchedStamp = stamp;
    QString error;
    const std::optional<std::vector<VirtualDeviceSpec>> specs = readDeviceFile(watchedFile, error);
    if (!specs) {
        say(error + " - the devices stay as they are");
        return;
    }
    std::set<QString> wanted;
    for (const VirtualDeviceSpec &spec : *specs)
        wanted.insert(spec.location());
    vusb::Bus &bus = vusb::Bus::instance();
    std::set<QString> present;
    std::vector<vusb::NodeId> leaving;
    bus.locked([&] {
        for (auto it = devices.begin(); it != devices.end();) {
            present.insert(it->second.location);
            if (wanted.count(it->second.location)) {
                ++it;
                continue;
            }
            leaving.push_back(it->first);
            it = devices.erase(it);
        }
    });
    for (vusb::NodeId node : leaving)
        bus.unplug(node);
    int arrived = 0;
    for (const VirtualDeviceSpec &spec : *specs) {
        if (present.count(spec.location()))
            continue;
        plug(bus, spec);
        ++arrived;
    }
    say(QString("%1 changed: %2 device(s) arrived, %3 left")
            .arg(watchedFile)
            .arg(arrived)
            .arg(leaving.size()));
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
    const std::lock_guard<std::mutex> lock(watchMutex);
    vusb::Bus &bus = vusb::Bus::instance();
    const QString deviceFile = environment("LUMEXOR_VIRTUAL_DEVICES");
    const QString stateFolder = environment("LUMEXOR_VIRTUAL_STATE");
    const QString logFile = environment("LUMEXOR_VIRTUAL_LOG");

    std::vector<VirtualDeviceSpec> specs;
    // Taken before the read: a change made meanwhile is read again at the first watch.
    watchedStamp = stampOf(deviceFile);
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
    keptIn = stateFolder;
    for (const VirtualDeviceSpec &spec : specs)
        plug(bus, spec);
    bus.setRecordTransfers(false); // a long run would keep every flashed byte
    bus.setTransferObserver(observe);
    watchedFile = deviceFile;
}

} // namespace

extern "C" void lumexorVirtualBusStart()
{
    std::call_once(started, start);
}

extern "C" void lumexorVirtualBusWatch()
{
    watch();
}
