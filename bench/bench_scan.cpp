// A scan of 64 capture devices behind eight external hubs on two buses, through
// DeviceScanner, against a loop that makes the same libusb calls on the same devices in the
// same order without the product: enumerate, read the descriptor, open, read the three
// strings, look for a kernel driver, claim, ping, release, close, and read the addressing.
// Both run on a thread that waits for the request (the scanner's worker, a plain thread for
// the loop), so both pay for handing the work over and back.

#include "benchsupport.h"
#include "devicescanner.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QLoggingCategory>
#include <libusb.h>

#include <cstdio>
#include <iterator>
#include <vector>

namespace {

constexpr int hubsPerBus = 4;
constexpr int devicesPerHub = 8;
constexpr int deviceCount = 2 * hubsPerBus * devicesPerHub;
// Application firmware of every family the probes know, in turn.
constexpr uint16_t families[] = {0x3600, 0x3620, 0x3630, 0x3640, 0x3660};

// Starts the bus over with the 64 devices; their nodes.
std::vector<vusb::NodeId> plugDevices()
{
    vusb::Bus &bus = vusb::Bus::instance();
    bus.reset();
    bus.setRecordTransfers(false);
    std::vector<vusb::NodeId> nodes;
    for (uint8_t busNumber = 1; busNumber <= 2; ++busNumber) {
        const vusb::NodeId root = bus.addRootHub(busNumber);
        for (uint8_t hubPort = 1; hubPort <= hubsPerBus; ++hubPort) {
            const vusb::NodeId hub = bus.addHub(root, hubPort);
            for (uint8_t port = 1; port <= devicesPerHub; ++port) {
                vdev::NorbyDevice::Config config;
                config.familyId = families[nodes.size() % std::size(families)];
                config.serial
                    = QStringLiteral("S%1").arg(nodes.size(), 7, 10, QChar('0')).toStdString();
                nodes.push_back(bus.plug(hub, port, std::make_shared<vdev::NorbyDevice>(config)));
            }
        }
    }
    return nodes;
}

// Whether every device was opened once a scan, as the scanner's probe opens it: the check that
// the loop and the scanner did the same.
bool openedOncePerScan(const std::vector<vusb::NodeId> &nodes, int scans)
{
    for (const vusb::NodeId node : nodes) {
        if (vusb::Bus::instance().openCalls(node) != scans) {
            std::fprintf(stderr, "node %d opened %d times in %d scans\n", node,
                vusb::Bus::instance().openCalls(node), scans);
            return false;
        }
    }
    return true;
}

// Scans per sample: the raw loop scans the virtual bus in some 50 us, no longer than waking a
// waiting thread can take on a busy machine. Ten back to back measure the scan rather than
// the scheduler; the figures are per scan.
constexpr int scansPerSample = 10;

// Ten scans through a scanner of its own (made and stopped outside the timed part), requested
// at once as a user clicking Rescan repeatedly would; the wall time in ms per scan from the
// requests to the last `complete`, negative when a scan did not report every device.
double productScans()
{
    const std::vector<vusb::NodeId> nodes = plugDevices();
    DeviceScanner scanner;
    int found = 0;
    int completes = 0;
    QEventLoop loop;
    QObject::connect(
        &scanner, &DeviceScanner::newDevice, [&](const DeviceDescription &) { ++found; });
    QObject::connect(&scanner, &DeviceScanner::complete, [&] {
        if (++completes == scansPerSample)
            loop.quit();
    });
    const bench::Clock::time_point start = bench::Clock::now();
    for (int i = 0; i < scansPerSample; ++i)
        emit scanner.scan();
    loop.exec();
    const double ms = bench::millisecondsSince(start) / scansPerSample;
    if (found != deviceCount * scansPerSample)
        std::fprintf(
            stderr, "the scans found %d devices of %d\n", found, deviceCount * scansPerSample);
    const bool same = openedOncePerScan(nodes, scansPerSample);
    return found == deviceCount * scansPerSample && same ? ms : -1;
}

// The product's calls for one device of the family, as the probe and the addressing make them.
bool probe(libusb_device *device)
{
    libusb_device_descriptor descriptor {};
    if (libusb_get_device_descriptor(device, &descriptor) != 0)
        return false;
    libusb_device_handle *handle = nullptr;
    if (libusb_open(device, &handle) != 0)
        return false;
    unsigned char text[128] = {};
    libusb_get_string_descriptor_ascii(handle, descriptor.iProduct, text, sizeof text - 1);
    libusb_get_string_descriptor_ascii(handle, descriptor.iSerialNumber, text, sizeof text - 1);
    libusb_get_string_descriptor_ascii(handle, 3, text, sizeof text - 1);
    const bool detached = libusb_kernel_driver_active(handle, 0) != 0
        && libusb_detach_kernel_driver(handle, 0) == 0;
    bool alive = false;
    if (libusb_claim_interface(handle, 0) == 0) {
        uint8_t answer = 0;
        alive = libusb_control_transfer(handle, 0xC0, 0xC8, 0, 0, &answer, 1, 1000) >= 0;
        libusb_release_interface(handle, 0);
    }
    if (detached)
        libusb_attach_kernel_driver(handle, 0);
    libusb_close(handle);
    if (!alive)
        return false;

    // The addressing the report carries: descriptor, bus, address, port, parent, port path.
    libusb_get_device_descriptor(device, &descriptor);
    libusb_get_bus_number(device);
    libusb_get_device_address(device);
    libusb_get_port_number(device);
    libusb_device *parent = libusb_get_parent(device);
    if (parent) {
        libusb_ref_device(parent);
        libusb_unref_device(parent);
    }
    uint8_t path[128];
    return libusb_get_port_numbers(device, path, sizeof path) >= 0;
}

int rawPass()
{
    libusb_device **list = nullptr;
    const ssize_t count = libusb_get_device_list(nullptr, &list);
    int found = 0;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor {};
        if (libusb_get_device_descriptor(list[i], &descriptor) != 0)
            break;
        if (descriptor.idVendor == 0x2B77 && (descriptor.idProduct & 0xF) == 1)
            found += probe(list[i]);
    }
    libusb_free_device_list(list, 1);
    return found;
}

double rawScans(bench::WorkerThread &worker)
{
    const std::vector<vusb::NodeId> nodes = plugDevices();
    int found = 0;
    const bench::Clock::time_point start = bench::Clock::now();
    worker.run([&] {
        for (int i = 0; i < scansPerSample; ++i)
            found += rawPass();
    });
    const double ms = bench::millisecondsSince(start) / scansPerSample;
    const bool same = openedOncePerScan(nodes, scansPerSample);
    return found == deviceCount * scansPerSample && same ? ms : -1;
}

// One figure: `reps` paired samples of the scanner and the raw loop, printed, and its row.
int measure(bench::WorkerThread &worker, int reps, const QString &label)
{
    std::vector<double> product, raw, ratio;
    for (int rep = 0; rep < reps; ++rep) {
        double p = 0, r = 0;
        if (rep % 2 == 0) {
            p = productScans();
            r = rawScans(worker);
        } else {
            r = rawScans(worker);
            p = productScans();
        }
        if (p < 0 || r < 0)
            return 1;
        product.push_back(p);
        raw.push_back(r);
        ratio.push_back(p / r);
        bench::printSample(qPrintable(label), rep,
            QStringLiteral("DeviceScanner %1 ms  raw %2 ms  ratio %3 (per scan)")
                .arg(bench::number(p, 3), bench::number(r, 3), bench::number(ratio.back(), 3)));
    }
    const bench::Figures p = bench::figuresOf(product);
    const bench::Figures q = bench::figuresOf(ratio);
    bench::printFigures("  DeviceScanner (ms)", p, "ms");
    bench::printFigures("  raw loop (ms)", bench::figuresOf(raw), "ms");
    bench::printFigures("  ratio", q, "");
    bench::printRow(label + QStringLiteral(" (ms)"), QStringLiteral("ratio <= 1.2"),
        bench::number(p.min, 2), bench::number(p.median, 2), bench::number(q.min, 3),
        bench::number(q.median, 3));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int reps = bench::repetitions(argc, argv, 21);
    bench::WorkerThread worker;
    // The scanner writes seven debug lines a device (the probes' trail, which the field
    // relies on); on a bus that answers at once they cost far more than the probing. The
    // second figure has that output switched off, as QT_LOGGING_RULES can in the field.
    int failed = measure(worker, reps, QStringLiteral("scan, 64 devices, debug output on"));
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    failed |= measure(worker, reps, QStringLiteral("scan, 64 devices, debug output off"));
    vusb::Bus::instance().reset();
    return failed;
}
