// Eight devices updated at once against one alone, with device models whose flash takes the
// time a serial flash chip takes: each 64 KiB sector erased before it is first written, each
// 256-byte page programmed, the status read busy meanwhile. A loop over the devices takes eight
// times one device's time; updates side by side take about one device's time, plus what the
// devices share: the bus (one transfer at a time, as behind one host controller), the process's
// main thread that hears every job's progress, and the processor for reading the package.
//
//   bench_fleet [-n REPETITIONS]   one device and eight in turns, the ratio per pair
//   bench_fleet --devices N        N devices once, for timing the whole process from outside

#include "benchsupport.h"
#include "buschecks.h"
#include "fleetupdate.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>

using namespace std::chrono_literals;

namespace {

// No pauses between the steps, which real devices need and which would overlap perfectly:
// the figure is the flash work.
const UpdatePacing noPauses {0ms, 0ms, 0ms, flashReadyTimeout};
// Times typical of a 64 KiB-sector serial NOR flash; a busy status read takes half a
// millisecond. With 256 KiB of microcode and this FPGA image an update takes some 4 s.
const vdev::NorbyFlash::Timing flashTiming {150ms, 700us, 500us};
// What control transfers get of a SuperSpeed bus, one at a time: a 4 KiB piece holds the bus
// for some 100 us, during which no other device's transfer moves.
constexpr uint64_t wireRate = 40 * 1000 * 1000;
constexpr std::size_t fpgaBytes = 512 * 1024;
constexpr int fleetSize = 8;

// Starts the bus over with `count` KESTREL3 (serials F0000001...) on the ports of one external
// hub; their descriptions as a scan makes them.
std::vector<DeviceDescription> plugDevices(
    int count, std::vector<std::shared_ptr<vdev::NorbyDevice>> &models)
{
    vusb::Bus &bus = vusb::Bus::instance();
    bus.reset();
    bus.setRecordTransfers(false);
    bus.setWireRate(wireRate);
    const testsupport::Topology topology = testsupport::Topology::build();
    std::vector<DeviceDescription> devices;
    models.clear();
    for (int i = 0; i < count; ++i) {
        vdev::NorbyDevice::Config config;
        config.serial = QStringLiteral("F%1").arg(i + 1, 7, 10, QChar('0')).toStdString();
        models.push_back(std::make_shared<vdev::NorbyDevice>(config));
        models.back()->flash().setTiming(flashTiming);
        DeviceDescription desc
            = testsupport::describe(bus.plug(topology.hub, uint8_t(i + 1), models.back()));
        desc.mode = Normal;
        devices.push_back(desc);
    }
    return devices;
}

// The fleet update as `update --all` runs it: the session's fleet runner, every device on an
// update job (and thread) of its own, all at once. The wall time in ms from the start to
// `finished`, negative when an update failed.
double updateFleet(const std::vector<DeviceDescription> &devices, const QString &package)
{
    FleetUpdate fleet(devices, QFile::encodeName(package), int(devices.size()), false, noPauses);
    QObject::connect(&fleet, &FleetUpdate::error, [](int, const QString &, const QString &text) {
        std::fprintf(stderr, "update failed: %s\n", qPrintable(text));
    });
    QEventLoop loop;
    QObject::connect(&fleet, &FleetUpdate::finished, &loop, &QEventLoop::quit);
    const bench::Clock::time_point start = bench::Clock::now();
    fleet.start();
    loop.exec();
    const double ms = bench::millisecondsSince(start);
    return fleet.succeeded() ? ms : -1;
}

// `count` fresh devices updated at once; the wall time, or negative when an update failed or a
// device's flash does not hold the images afterwards.
double fleetRun(int count, const QString &package)
{
    std::vector<std::shared_ptr<vdev::NorbyDevice>> models;
    const double ms = updateFleet(plugDevices(count, models), package);
    bool flashed = true;
    vusb::Bus::instance().locked([&] {
        for (const auto &model : models) {
            flashed = flashed && model->flash().fx3Flash().size() == bench::microcodeBytes
                && model->flash().fpgaFlash().size() == fpgaBytes;
        }
    });
    models.clear();
    vusb::Bus::instance().reset();
    if (!flashed)
        std::fprintf(stderr, "a device's flash does not hold the package's images\n");
    return flashed ? ms : -1;
}

int devicesArgument(int argc, char **argv)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--devices") == 0)
            return std::max(1, std::atoi(argv[i + 1]));
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The updates write the update history, as they do for a user, though not into theirs.
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
    testsupport::ZipPackage zip;
    const QString package
        = bench::writeKestrelPackage(zip, fpgaBytes, testsupport::ZipPackage::Deflated);
    if (package.isEmpty())
        return 1;

    if (const int count = devicesArgument(argc, argv)) {
        const double ms = fleetRun(count, package);
        std::printf("%d device(s) at once: %.1f ms\n", count, ms);
        return ms < 0 ? 1 : 0;
    }

    const int reps = bench::repetitions(argc, argv, 3);
    std::vector<double> one, fleet, ratio;
    for (int rep = 0; rep < reps; ++rep) {
        // Alternating, so a machine that speeds up or slows down favours neither.
        double a = 0, b = 0;
        if (rep % 2 == 0) {
            a = fleetRun(1, package);
            b = fleetRun(fleetSize, package);
        } else {
            b = fleetRun(fleetSize, package);
            a = fleetRun(1, package);
        }
        if (a < 0 || b < 0)
            return 1;
        one.push_back(a);
        fleet.push_back(b);
        ratio.push_back(b / a);
        bench::printSample("fleet of 8 against 1", rep,
            QStringLiteral("one %1 ms  eight %2 ms  ratio %3")
                .arg(bench::number(a, 0), bench::number(b, 0), bench::number(ratio.back(), 3)));
    }
    const bench::Figures o = bench::figuresOf(one);
    const bench::Figures f = bench::figuresOf(fleet);
    const bench::Figures q = bench::figuresOf(ratio);
    bench::printFigures("  one device (ms)", o, "ms");
    bench::printFigures("  eight at once (ms)", f, "ms");
    bench::printFigures("  ratio", q, "");
    bench::printRow(QStringLiteral("8 devices at once against 1 (ms)"),
        QStringLiteral("ratio <= 1.25"), bench::number(f.min, 0), bench::number(f.median, 0),
        bench::number(q.min, 3), bench::number(q.median, 3));
    return 0;
}
