// A whole update (16 MiB FPGA image, 256 KiB microcode, EDID) through UpdateTask, against a
// loop that sends the very same control transfers straight to the bus. The transfers of one
// clean update are recorded first; the loop replays them, same order, same bytes, same
// lengths and timeouts, on a fresh bus with a fresh device, so both sides pay the device
// model's work alike and the ratio is what the product adds around the transfers.

#include "benchsupport.h"
#include "buschecks.h"
#include "packagecheck.h"
#include "packagepreflight.h"
#include "productidentify.h"
#include "updatetask.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <libusb.h>

#include <cstdio>
#include <malloc.h>

using namespace std::chrono_literals;

namespace {

// No pauses between the steps: the figure is the work, not the waits real devices need.
const UpdatePacing noPauses {0ms, 0ms, 0ms, flashReadyTimeout};
constexpr std::size_t fpgaBytes = 16 * 1024 * 1024;

struct Replay {
    std::vector<vusb::TransferRecord> log;
    // One buffer per transfer: the recorded bytes of a host-to-device one, room for the
    // answer of a device-to-host one. Made before the clock starts.
    std::vector<std::vector<uint8_t>> buffers;
};

// One update of a fresh device; its wall time in ms from the start request to `complete`,
// or a negative value when the update reported an error.
double productRun(const QString &package, bool record = false)
{
    const vusb::NodeId node = bench::freshBus(bench::kestrel3(), record);
    DeviceDescription desc = testsupport::describe(node);
    desc.mode = Normal;
    // A task per run: its destructor joins the worker, so the worker's copy of the
    // description (which holds device references) is gone before the next run resets the
    // bus. Made and joined outside the timed part.
    UpdateTask task(nullptr, noPauses);

    QEventLoop loop;
    bool failed = false;
    const auto done = QObject::connect(&task, &UpdateTask::complete, &loop, &QEventLoop::quit);
    const auto error = QObject::connect(&task, &UpdateTask::error, [&](const QString &text) {
        std::fprintf(stderr, "update failed: %s\n", qPrintable(text));
        failed = true;
    });
    const bench::Clock::time_point start = bench::Clock::now();
    emit task.start(desc, package);
    loop.exec();
    const double ms = bench::millisecondsSince(start);
    QObject::disconnect(done);
    QObject::disconnect(error);
    return failed ? -1 : ms;
}

// The recorded transfers again, on the device at `node`, through libusb alone: the device is
// found, opened and claimed, and released and closed at the end. Negative when a transfer's
// result differs from the recorded one (the replay would not be the same work).
double replayTransfers(Replay &replay, vusb::NodeId node)
{
    vusb::Bus &bus = vusb::Bus::instance();
    const uint8_t busNumber = bus.busNumber(node);
    const uint8_t address = bus.address(node);
    libusb_device **list = nullptr;
    const ssize_t count = libusb_get_device_list(nullptr, &list);
    libusb_device_handle *handle = nullptr;
    for (ssize_t i = 0; i < count && !handle; ++i) {
        if (libusb_get_bus_number(list[i]) == busNumber
            && libusb_get_device_address(list[i]) == address && libusb_open(list[i], &handle) != 0)
            handle = nullptr;
    }
    libusb_free_device_list(list, 1);
    if (!handle || libusb_claim_interface(handle, 0) != 0)
        return -1;
    int mismatches = 0;
    for (std::size_t i = 0; i < replay.log.size(); ++i) {
        const vusb::TransferRecord &t = replay.log[i];
        const int rc = libusb_control_transfer(handle, t.requestType, t.request, t.value, t.index,
            replay.buffers[i].data(), t.length, t.timeout);
        mismatches += rc != t.result;
    }
    libusb_release_interface(handle, 0);
    libusb_close(handle);
    if (mismatches)
        std::fprintf(stderr, "replay: %d transfer(s) answered otherwise\n", mismatches);
    return mismatches ? -1 : 0;
}

// The replay on a fresh bus, on a waiting thread of its own as the product's transfers are.
double rawRun(bench::WorkerThread &worker, Replay &replay)
{
    const vusb::NodeId node = bench::freshBus(bench::kestrel3());
    double result = 0;
    const bench::Clock::time_point start = bench::Clock::now();
    worker.run([&] { result = replayTransfers(replay, node); });
    const double ms = bench::millisecondsSince(start);
    return result < 0 ? result : ms;
}

// The package checks an update makes before it opens the device, alone: the images are read
// to their end there once, and again while they are flashed. Its wall time in ms, or a
// negative value when the package was refused.
double preflightRun(const QString &package)
{
    const bench::Clock::time_point start = bench::Clock::now();
    ZipArchive archive(package.toStdString());
    ProductMatch match;
    PackageMembers members;
    PreparedPackage prepared;
    const ErrorReporter report
        = [](const QString &text) { std::fprintf(stderr, "refused: %s\n", qPrintable(text)); };
    const bool good = archive.isOpen() && identifyProduct(archive, match, report) >= 0
        && checkPackageMembers(archive, *match.info, members, report) >= 0
        && preflightPackage(archive, *match.info, members, false, prepared, report) >= 0;
    const double ms = bench::millisecondsSince(start);
    return good ? ms : -1;
}

// Product and replay in turns (the order alternating from one repetition to the next, so a
// machine that speeds up or slows down during the run favours neither), the ratio per pair.
bool measure(const char *label, testsupport::ZipPackage::Method method, int reps)
{
    testsupport::ZipPackage zip;
    const QString package = bench::writeKestrelPackage(zip, fpgaBytes, method);
    if (package.isEmpty())
        return false;
    Replay replay;
    if (productRun(package, true) < 0)
        return false;
    replay.log = vusb::Bus::instance().transfers();
    for (const vusb::TransferRecord &t : replay.log) {
        replay.buffers.push_back(t.deviceToHost() ? std::vector<uint8_t>(t.length) : t.data);
    }
    std::printf("%s: %zu transfers per update, package %s\n", label, replay.log.size(),
        qPrintable(package));

    bench::WorkerThread worker;
    if (rawRun(worker, replay) < 0) // the replay's own first run, not counted either
        return false;
    std::vector<double> product, raw, ratio, preflight;
    for (int rep = 0; rep < reps; ++rep) {
        preflight.push_back(preflightRun(package));
        if (preflight.back() < 0)
            return false;
        double p = 0, r = 0;
        long pFaults = 0, rFaults = 0;
        const auto timeProduct = [&] {
            const long before = bench::minorFaults();
            p = productRun(package);
            pFaults = bench::minorFaults() - before;
        };
        const auto timeRaw = [&] {
            const long before = bench::minorFaults();
            r = rawRun(worker, replay);
            rFaults = bench::minorFaults() - before;
        };
        if (rep % 2 == 0) {
            timeProduct();
            timeRaw();
        } else {
            timeRaw();
            timeProduct();
        }
        if (p < 0 || r < 0)
            return false;
        product.push_back(p);
        raw.push_back(r);
        ratio.push_back(p / r);
        bench::printSample(label, rep,
            QStringLiteral("product %1 ms  raw %2 ms  ratio %3  (page faults %4 / %5)")
                .arg(bench::number(p), bench::number(r), bench::number(ratio.back(), 3))
                .arg(pFaults)
                .arg(rFaults));
    }
    vusb::Bus::instance().reset();

    const bench::Figures p = bench::figuresOf(product);
    const bench::Figures r = bench::figuresOf(raw);
    const bench::Figures q = bench::figuresOf(ratio);
    const bench::Figures f = bench::figuresOf(preflight);
    bench::printFigures("  UpdateTask (ms)", p, "ms");
    bench::printFigures("  of which pre-flight (ms)", f, "ms");
    bench::printFigures("  raw replay (ms)", r, "ms");
    bench::printFigures("  ratio", q, "");
    bench::printRow(QStringLiteral("%1 (ms)").arg(label), QStringLiteral("ratio <= 1.05"),
        bench::number(p.min, 1), bench::number(p.median, 1), bench::number(q.min, 3),
        bench::number(q.median, 3));
    // The pre-flight's share: what the ratio would lose without the full read before the start.
    bench::printRow(QStringLiteral("  of which pre-flight read (ms)"), QStringLiteral("-"),
        bench::number(f.min, 1), bench::number(f.median, 1), bench::number(f.min / r.median, 3),
        bench::number(f.median / r.median, 3));
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    // The device model's flash grows with every piece it is sent, to 16 MiB, on whichever
    // thread sends it. With glibc's defaults those buffers came from fresh mappings in some
    // runs and from memory kept from an earlier run in others, depending on the thread's
    // malloc arena and on what ran before; the page faults of a fresh 16 MiB cost a virtual
    // machine up to 200 ms, more than the whole replay. One arena and fixed thresholds that keep
    // freed memory make the model cost the same on both sides, and the page-fault counts printed
    // with each sample show that it does.
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 1024 * 1024 * 1024);
    QCoreApplication app(argc, argv);
    const int reps = bench::repetitions(argc, argv, 9);
    // Both ratios hold reading the image out of the package, which the replay, with its bytes
    // in memory, does not do: stored, a file read; deflated (as packages usually ship), the
    // inflating of 16 MiB.
    if (!measure("update 16 MiB, stored", testsupport::ZipPackage::Stored, reps)
        || !measure("update 16 MiB, deflated", testsupport::ZipPackage::Deflated, reps))
        return 1;
    return 0;
}
