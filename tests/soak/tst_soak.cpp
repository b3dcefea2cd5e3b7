#include "buschecks.h"
#include "configdeviceactions.h"
#include "configdevicetask.h"
#include "devicescanner.h"
#include "norbydevice.h"
#include "quietlogs.h"
#include "scanrecorder.h"
#include "updatepackages.h"
#include "waitfor.h"

#include <QtTest>

#include <array>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

// Under AddressSanitizer freed memory sits in a quarantine and every allocation carries redzones
// and shadow memory, so memory figures say nothing about the product: the memory bounds are
// skipped there (LeakSanitizer checks every allocation at exit instead), the libusb accounting
// and the thread count are checked all the same.
#if defined(__SANITIZE_ADDRESS__)
#define SOAK_ASAN 1
#elif defined(__has_feature)
#define SOAK_ASAN __has_feature(address_sanitizer)
#else
#define SOAK_ASAN 0
#endif

using namespace std::chrono_literals;
using namespace testsupport;
using vdev::NorbyDevice;
using vdev::NorbyState;

namespace {

// A warm-up round, then the measured rounds. A round: 15 scans, 13 configuration requests and 7
// updates (3 good, 4 failing), plus one scanner, one configuration task and one update task
// destroyed with work still queued. 20 rounds: 300 scans, 260 requests, 140 updates.
constexpr int Rounds = 20;

// Growth allowed in the bytes malloc has handed out and not got back, over the measured rounds,
// once the warm-up has made every first-use allocation (Qt's type registry, libzip, the threads'
// malloc arenas). They count glibc's per-thread caches, which fill slowly (+56 KiB over 20
// rounds). CTest turns them off (GLIBC_TUNABLES in CMakeLists.txt): then 64 KiB (measured: within
// 10 KiB) fails a leak of some 100 bytes, a description or a transfer buffer, per operation;
// 512 KiB with them on. Resident memory moves by hundreds of KiB with the allocator's arenas, and
// anything the product leaks shows in these bytes first: it is not compared.
constexpr long HeapBoundKiB = 64;
constexpr long HeapBoundWithThreadCacheKiB = 512;

const UpdatePacing pacing {0ms, 0ms, 0ms, 2000ms}; // the devices restart at once

// A number field of /proc/self/status ("Threads"); -1 when absent.
long statusField(const std::string &name)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.compare(0, name.size() + 1, name + ':') == 0)
            return std::stol(line.substr(name.size() + 1));
    }
    return -1;
}

// The figures compared between the start and the end.
enum Figure { References, Handles, Claims, Lists, Threads, Heap, FigureCount };
const char *const figureNames[]
    = {"references", "open handles", "claimed", "device lists", "threads", "heap (KiB)"};
using Figures = std::array<long, FigureCount>;

// The bytes the allocator has handed out and not got back, in KiB; -1 where not known.
long heapInUseKiB()
{
#if defined(__GLIBC__) && !SOAK_ASAN
#if __GLIBC_PREREQ(2, 33)
    const struct mallinfo2 info = mallinfo2();
    return long((info.uordblks + info.hblkhd) / 1024);
#endif
#endif
    return -1;
}

enum Package { Kestrel3, Harrier3, BadEdid, Missing };

// An update run: a device of `family`, in soft repair when `repair`, and its fault.
struct Job {
    bool succeeds;
    Package package;
    uint16_t family = 0x3600;
    bool repair = false;
    int unplugAfter = 0; // transfers
};

// The fault matrix fails every transfer of every run once, and checks each failure's
// completion and libusb accounting; here the failures before the device is opened, and the
// one that loses a device with a handle open, come back round after round.
const Job jobs[] = {
    {true, Kestrel3}, // a small package into a capture device
    {true, Harrier3, 0x3660}, // a package with nothing but the EDID
    {true, Kestrel3, 0x3600, true}, // sandbox download, restart, flashing
    {false, Harrier3}, // incompatible, refused before the device is opened
    {false, BadEdid}, // refused by the package checks
    {false, Missing},
    {false, Kestrel3, 0x3600, false, 3}, // the device leaves after the first chunk
};

// What one part of a window reported since it was last cleared: its signals as text, and its
// completions.
struct Outcome {
    QStringList events;
    int completes = 0;

    void add(const QString &event, bool done = false) { events << event, completes += done; }
    bool waitFor(int n)
    {
        return testsupport::waitFor([&] { return completes >= n; }, 20000);
    }
};

// The engine as the window builds it, and what each part reported: devices as "vendor:product",
// update progress as numbers, errors as "error"; of the configuration task (which broadcasts every
// result to every action) only its completions and errors are counted. When `keep` is
// set, a scan keeps the description of the device with the audio id in `shown`, as the window
// keeps the description of the device it shows.
struct Window {
    Window()
    {
        const auto on = [](auto *sender, auto signal, auto slot) {
            QObject::connect(sender, signal, sender, slot);
        };
        on(&scanner, &DeviceScanner::newDevice, [this](const DeviceDescription &d) {
            scanned.add(QString::asprintf("%04x:%04x", d.vendorId, d.productId));
            if (keep && d.productId == 0x3621)
                shown = d;
        });
        on(&scanner, &DeviceScanner::error, [this] { scanned.add("error"); });
        on(&scanner, &DeviceScanner::complete, [this] { ++scanned.completes; });
        on(&configTask, &ConfigDeviceBase::getRequestComplete, [this] { ++configured.completes; });
        on(&configTask, &ConfigDeviceBase::setRequestComplete, [this] { ++configured.completes; });
        on(&configTask, &ConfigDeviceBase::error, [this] { configured.add("error"); });
        on(&updater, &UpdateTask::progress, [this](int p) { updated.add(QString::number(p)); });
        on(&updater, &UpdateTask::error, [this] { updated.add("error"); });
        on(&updater, &UpdateTask::complete, [this] { ++updated.completes; });
    }

    Outcome scanned, configured, updated;
    bool keep = false;
    std::optional<DeviceDescription> shown;
    DeviceScanner scanner;
    ConfigDeviceTask configTask;
    DeviceFlagsAction flags {&configTask};
    InputStatusAction input {&configTask};
    UserModeAction modes {&configTask};
    UpdateTask updater {nullptr, pacing};
};

} // namespace

// Hundreds of scans, configuration requests and updates in one process, through the long-lived
// objects the window keeps and through objects made and destroyed for one use (a rescan, a new
// window), some destroyed with work still queued. Afterwards every libusb reference, handle,
// claim and device list is given back, no thread is left running, and memory is where it was
// after the first round.
class tst_Soak : public QObject
{
    Q_OBJECT

    vusb::Bus &bus_ = vusb::Bus::instance();
    std::optional<QuietLogs> quiet_;
    int baseThreads_ = 0;
    std::array<ZipPackage, 4> zips_;
    std::array<QString, 4> paths_; // by Package
    std::unique_ptr<Window> window_; // kept for the whole run

    // This round's bus.
    Topology topology_;
    std::shared_ptr<NorbyDevice> settingsModel_;
    vusb::NodeId settingsNode_ = -1;

    // A fresh bus: the usual two-bus tree, and behind the hub six known devices in every state
    // (one of them held by a kernel driver, one that does not answer its ping) and one of an
    // unknown vendor. The bus keeps every enumeration and handle until it is reset, and by
    // default a log of every transfer: it is reset after every round, and the log is off, so
    // that nothing the bus itself keeps counts against the product.
    void buildBus()
    {
        bus_.reset();
        bus_.setRecordTransfers(false);
        topology_ = Topology::build();
        bus_.plug(topology_.root1, 1, norby(0x3600, NorbyState::Application, 0x5555));
        bus_.setKernelDriverActive(
            bus_.plug(topology_.hub, 1, norby(0x3600, NorbyState::Application)), true);
        settingsModel_ = norby(0x3620, NorbyState::Application);
        settingsNode_ = bus_.plug(topology_.hub, 2, settingsModel_);
        bus_.plug(topology_.hub, 3, norby(0x3630, NorbyState::SoftRepair));
        bus_.plug(topology_.hub, 4, norby(0x3660, NorbyState::Sandbox));
        bus_.plug(topology_.hub, 5, norby(0x3640, NorbyState::BootLoader));
        bus_.plug(topology_.hub, 6, norby(0x3620, NorbyState::Application, 0x1234));
        const vusb::NodeId silent
            = bus_.plug(topology_.hub, 7, norby(0x3640, NorbyState::Application));
        bus_.failRequest(silent, {0xC8, 1, -1, vdev::Pipe});
    }

    // One scan: it completes within the bound and reports exactly the six known devices that
    // answer, once each, and no error.
    void scanOnce(Window &w, int round)
    {
        w.scanned = {};
        emit w.scanner.scan();
        QVERIFY2(w.scanned.waitFor(1), qPrintable(QString("round %1: no scan end").arg(round)));
        w.scanned.events.sort();
        QCOMPARE(w.scanned.events,
            QStringList(
                {"04b4:00f3", "2b77:3601", "2b77:3621", "2b77:3630", "2b77:366f", "5555:3601"}));
    }

    void scanRound(int round)
    {
        window_->keep = true;
        for (int i = 0; i < 12 && !QTest::currentTestFailed(); ++i) {
            scanOnce(*window_, round);
            window_->keep = false;
        }
        for (int i = 0; i < 3 && !QTest::currentTestFailed(); ++i) {
            Window fresh;
            scanOnce(fresh, round);
        }
        if (QTest::currentTestFailed())
            return;
        QVERIFY(window_->shown && window_->shown->parent); // reported by its place
        // A window closed while it scans: a scan that has begun runs to its end, the rest are
        // dropped.
        Window closed;
        emit closed.scanner.scan();
        emit closed.scanner.scan();
    }

    // Ten requests through the window's task and its three actions, queued at once; the first
    // cannot open the device, the second read of the flags stalls. Then three through a new
    // window's, and three more through one that is closed before they are done. What each result
    // holds is the configuration tests' and the fault matrix's; here every request must end, the
    // flags last written must be stored, and nothing may be left behind.
    void configRound(int round)
    {
        const auto i = uint16_t(round % 3);
        const uint8_t v1 = DeviceFlags::fromSwitches(round & 1, round & 2, round & 4);
        const uint8_t v2 = DeviceFlags::fromSwitches(!(round & 1), round & 2, !(round & 4));
        const UserMode mode {uint16_t(640 + round), uint16_t(480 + round), uint8_t(round & 1)};
        // The search by place tries once, and once more after the list is gone.
        bus_.failOpen(settingsNode_, LIBUSB_ERROR_ACCESS, 2);
        bus_.failRequest(settingsNode_, {0xE2, 2, 1, vdev::Pipe});

        const DeviceDescription &desc = *window_->shown;
        Window &w = *window_;
        w.configured = {};
        for (const uint8_t v : {v1, v2}) {
            w.input.get(desc);
            w.modes.set(desc, mode, 0xB3, i);
            w.flags.set(desc, v);
            w.flags.get(desc);
            w.modes.get(desc, 0xB3, i);
        }
        QVERIFY2(w.configured.waitFor(10) && w.configured.events.size() == 2,
            qPrintable(QString("round %1: %2 of 10 requests done, %3 errors")
                           .arg(round)
                           .arg(w.configured.completes)
                           .arg(w.configured.events.size())));
        uint8_t stored = 0;
        bus_.locked([&] { stored = settingsModel_->settings().flags(); });
        QCOMPARE(stored, v2);

        {
            Window fresh;
            fresh.flags.get(desc);
            fresh.modes.get(desc, 0xB3, i);
            fresh.input.get(desc);
            QVERIFY(fresh.configured.waitFor(3));
        }

        // A window closed with requests queued: the one running finishes, the rest are dropped
        // together with the descriptions they carry.
        Window closed;
        closed.flags.get(desc);
        closed.modes.set(desc, mode, 0xB3, i);
        closed.flags.get(desc);
    }

    // A device for `job` on root 1 at `port`, with its fault; the description the window would
    // pass for it.
    DeviceDescription plug(const Job &job, uint8_t port)
    {
        const vusb::NodeId node = bus_.plug(topology_.root1, port,
            norby(job.family, job.repair ? NorbyState::SoftRepair : NorbyState::Application, 0x2B77,
                vdev::Reenumeration {})); // back at once
        if (job.unplugAfter)
            bus_.unplugAfterTransfers(node, job.unplugAfter);
        DeviceDescription desc = describe(node);
        desc.mode = job.repair ? SoftRepair : Normal;
        return desc;
    }

    // One run of `job`: it completes once within the bound; a good one reaches 100 without an
    // error, a failing one reports one error. What a good run leaves in the device is the update
    // tests' and the fault matrix's follow-up runs'.
    void updateOnce(Window &w, const Job &job, uint8_t port, int round)
    {
        const DeviceDescription desc = plug(job, port);
        w.updated = {};
        emit w.updater.start(desc, paths_[job.package]);
        const QString what = QString("round %1, job %2: ").arg(round).arg(&job - jobs);
        QVERIFY2(w.updated.waitFor(1), qPrintable(what + "the run did not complete"));
        QVERIFY2(w.updated.completes == 1 && w.updated.events.contains("100") == job.succeeds
                && w.updated.events.count("error") == (job.succeeds ? 0 : 1),
            qPrintable(what + w.updated.events.join(' ')));
    }

    void updateRound(int round)
    {
        for (size_t k = 0; k < std::size(jobs) && !QTest::currentTestFailed(); ++k) {
            if ((size_t(round) + k) % 3 == 0) {
                Window fresh;
                updateOnce(fresh, jobs[k], uint8_t(2 + k), round);
            } else {
                updateOnce(*window_, jobs[k], uint8_t(2 + k), round);
            }
        }

        // A window closed right after it started an update: the destructor waits for the run,
        // if it had begun, and drops it otherwise.
        Window closed;
        emit closed.updater.start(plug(jobs[0], uint8_t(2 + std::size(jobs))), paths_[Kestrel3]);
    }

    // The round's end: the description the window showed goes (as on a rescan), then nothing of
    // libusb may be held any more; the bus is rebuilt and memory read.
    void endRound(int round, Figures &f)
    {
        window_->shown.reset();
        f = {bus_.liveReferences(), bus_.openHandles(), bus_.claimedInterfaces(),
            bus_.openDeviceLists()};
        const std::string report = bus_.leakReport();
        buildBus();
        f[Threads] = statusField("Threads");
        QVERIFY2(
            report.empty(), qPrintable(QString("round %1: %2").arg(round).arg(report.c_str())));
        f[Heap] = heapInUseKiB();
    }

private slots:
    void initTestCase()
    {
        quiet_.emplace();
        baseThreads_ = int(statusField("Threads"));
        const std::pair<const char *, const char *> packages[]
            = {{"kestrel3", ""}, {"harrier3", "images"}, {"kestrel3", "bad edid"},
                {"kestrel3", "no package"}}; // by Package
        for (size_t p = 0; p < zips_.size(); ++p) {
            paths_[p] = writeUpdatePackage(zips_[p], packages[p].first, packages[p].second);
            QVERIFY(!paths_[p].isEmpty());
        }

        window_ = std::make_unique<Window>();
    }

    void cleanupTestCase()
    {
        window_.reset();
        VERIFY_BUS_CLEAN();
        bus_.reset();
        quiet_.reset();
    }

    void soak()
    {
        // Round 0 is the warm-up. Once the threads of the objects destroyed in a round have left
        // the process, only the window's three are left, and Qt D-Bus's connection thread, which
        // the first update's sleep lock starts for good; the checks below tell if they did not.
        const long longLived = baseThreads_ + 4;
        Figures start {}, end {};
        buildBus();
        for (int round = 0; round <= Rounds; ++round) {
            scanRound(round);
            if (!QTest::currentTestFailed())
                configRound(round);
            if (!QTest::currentTestFailed())
                updateRound(round);
            if (QTest::currentTestFailed())
                return;
            if (round == 0 || round == Rounds)
                static_cast<void>(
                    waitFor([&] { return statusField("Threads") <= longLived; }, 5000));
            endRound(round, round ? end : start);
            if (QTest::currentTestFailed())
                return;
        }

        QStringList figures;
        for (int i = 0; i < FigureCount; ++i)
            figures << QStringLiteral("%1 %2 -> %3").arg(figureNames[i]).arg(start[i]).arg(end[i]);
        qInfo("soak: %s", qPrintable(figures.join(", ")));
        QCOMPARE(start[Threads], longLived);
        for (int i = References; i <= Lists; ++i)
            QVERIFY2(end[i] == start[i], figureNames[i]);
        QVERIFY2(end[Threads] <= start[Threads], "threads left running");
#if !SOAK_ASAN
        const long heapBound
            = qEnvironmentVariable("GLIBC_TUNABLES").contains("glibc.malloc.tcache_count=0")
            ? HeapBoundKiB
            : HeapBoundWithThreadCacheKiB;
        QVERIFY2(start[Heap] < 0 || end[Heap] - start[Heap] <= heapBound, "heap in use grew");
#endif
    }
};

QTEST_GUILESS_MAIN(tst_Soak)
#include "tst_soak.moc"
