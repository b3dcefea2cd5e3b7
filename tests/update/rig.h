#pragma once

// What the update tests share: the update library's units, the packages they read and the
// virtual devices that take them.

#include "bustestcase.h"
#include "devicecompat.h"
#include "deviceopen.h"
#include "edidupload.h"
#include "fpgaflashframed.h"
#include "fpgaflashplain.h"
#include "fx3bootimage.h"
#include "fx3bootload.h"
#include "fx3flash.h"
#include "logcapture.h"
#include "norbydevice.h"
#include "packagecheck.h"
#include "packagepath.h"
#include "productidentify.h"
#include "textimage.h"
#include "updatepackages.h"

#include <QtTest>

using namespace testsupport;
using namespace std::chrono_literals;

namespace testsupport {

// The texts a unit reports, one a call.
struct Reports : QStringList {
    ErrorReporter to()
    {
        return [this](const QString &text) { append(text); };
    }
};

// `package` holding `data` as `member` (nothing when `data` is null), opened; `damage`d: its
// "MARK" changed behind the CRC's back, which libzip finds at the member's end when stored.
inline ZipArchive openedWith(ZipPackage &package, const std::string &member, const QByteArray &data,
    bool damage = false, ZipPackage::Method method = ZipPackage::Stored)
{
    if (!data.isNull())
        package.add(member, data, method);
    const QString path = package.write();
    if (damage && !patchFile(path, "MARK", "MARX"))
        qFatal("no MARK to damage in %s", member.c_str());
    return ZipArchive(path.toStdString());
}

// By NorbyState: Application, SoftRepair, Sandbox, BootLoader.
const DeviceMode modeOf[] = {Normal, SoftRepair, DirectUpdate, HardRepair};

// A device plugged in the state of `state` and a package for `product` (see
// writeUpdatePackage for `setup`); a device "never" coming back after its restart.
struct UpdateRig {
    UpdateRig(const QString &product, int family, vdev::NorbyState state, const QString &setup)
        : path(writeUpdatePackage(package, product, setup))
    {
        vdev::NorbyDevice::Config config;
        config.familyId = uint16_t(family);
        config.state = state;
        if (setup.startsWith("never"))
            config.restart.arrival = vdev::Arrival::Never;
        // "companion": the restarted device connects at SuperSpeed, on the companion of its
        // port; "unrelated": on the next port of its hub. Bus 2 is the USB 2 half of the
        // host's USB 3 ports, bus 3 their SuperSpeed half; the hub on bus 2 port 3 is the
        // USB 2 half of a USB 3 hub whose other half sits on bus 3 port 5.
        if (setup.contains("companion"))
            config.restart.arrival = vdev::Arrival::CompanionPort;
        if (setup.contains("unrelated"))
            config.restart.arrival = vdev::Arrival::OtherPort;
        device = std::make_shared<vdev::NorbyDevice>(config);
        const Topology topology = Topology::build();
        if (setup.contains("peers")) {
            const vusb::NodeId superSpeedRoot = bus.addRootHub(3);
            const vusb::NodeId superSpeedHub = bus.addHub(superSpeedRoot, 5);
            bus.linkPeerPorts(topology.root2, 1, superSpeedRoot, 1);
            bus.linkPeerPorts(topology.root2, 3, superSpeedRoot, 5);
            bus.linkPeerHubs(topology.hub, superSpeedHub, 4);
        }
        node = setup.contains("root port") ? bus.plug(topology.root2, 1, device)
                                           : bus.plug(topology.hub, 2, device);
        desc = describe(node);
        desc.mode = modeOf[int(state)];
    }

    // The device restarts in 20 ms.
    QStringList run(int timeoutMs = 10000)
    {
        return runUpdate(desc, path, {0ms, 100ms, 0ms, 2000ms}, timeoutMs);
    }

    vusb::Bus &bus = vusb::Bus::instance();
    ZipPackage package;
    QString path;
    std::shared_ptr<vdev::NorbyDevice> device;
    vusb::NodeId node = -1;
    DeviceDescription desc;
};

} // namespace testsupport
