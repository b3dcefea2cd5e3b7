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

#ifdef __GLIBC__
#include <malloc.h>
#endif

// Under AddressSanitizer freed memory sits in a quarantine and every allocation carries redzones
// and shadow memory, so memory figures say nothing about the product: the memory bound is
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
using vdev::NorbyState;

namespace {

// A warm-up round, then the measured rounds. A round: 12 scans, 8 configuration requests and 5
// updates (2 good, 3 failing), plus one scanner, one configuration task and one update task
// destroyed with work still queued.
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

long threadCount()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.compare(0, 8, "Threads:") == 0)
            return std::stol(line.substr(8));
    }
    return -1;
}

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

// The update runs of a round: a small package into a capture device, a repair (sandbox download,
// restart, flashing), a package refused as incompatible before the device is opened, one refused
// by the package checks, and a device that leaves after the first chunk. The fault matrix fails
// every transfer of every run once, and checks each failure's completion and libusb accounting;
// here these come back round after round.
struct Job {
    const char *product, *setup;
    bool repair = false;
    int unplugAfter = 0; // transfers
    bool succeeds = false;
};
const Job jobs[] = {{"kestrel3", "", false, 0, true}, {"kestrel3", "", true, 0, true},
    {"harrier3", "images"}, {"kestrel3", "bad edid"}, {"kestrel3", "", false, 3}};

// The engine as the window builds it, and what its parts reported: "complete", "error", and
// "100" when an update got there. The configuration task broadcasts every result to every
// action; only its completions and errors are noted.
struct Window {
    Window()
    {
        const auto note = [this](auto *sender, auto signal, const char *what) {
            QObject::connect(sender, signal, sender, [this, what] { events << what; });
        };
        note(&configTask, &ConfigDeviceBase::getRequestComplete, "complete");
        note(&configTask, &ConfigDeviceBase::setRequestComplete, "complete");
        note(&configTask, &ConfigDeviceBase::error, "error");
        note(&updater, &UpdateTask::complete, "complete");
        note(&updater, &UpdateTask::error, "error");
        QObject::connect(&updater, &UpdateTask::progress, &updater, [this](int p) {
            if (p == 100)
                events << "100";
        });
    }

    // True when `n` completions arrived within the bound, and no more.
    bool waitForCompletes(int n)
    {
        return waitFor([&] { return events.count("complete") >= n; }, 20000)
            && events.count("complete") == n;
    }

    QStringList events;
    DeviceScanner scanner;
    ScanRecorder scanned {scanner};
    ConfigDeviceTask configTask;
    DeviceFlagsAction flags {&configTask};
    InputStatusAction input {&configTask};
    UserModeAction modes {&configTask};
    UpdateTask updater {nullptr, pacing};
};

} // namespace

// Hundreds of scans, configuration requests and updates in one process, through the long-lived
// objects the window keeps and through a window made and closed with work still queued in every
// part. Every round ends with every libusb reference, handle, claim and device list given back;
// at the end no thread is left running, and memory is where it was after the first round.
class tst_Soak : public QObject
{
    Q_OBJECT

    vusb::Bus &bus_ = vusb::Bus::instance();
    std::optional<QuietLogs> quiet_;
    std::array<ZipPackage, std::size(jobs)> zips_;
    std::array<QString, std::size(jobs)> paths_; // by job
    std::unique_ptr<Window> window_; // kept for the whole run
    Topology topology_;
    std::shared_ptr<vdev::NorbyDevice> settingsModel_;
    vusb::NodeId settingsNode_ = -1;

    // The usual two-bus tree, and behind the hub six known devices in every state (one of them
    // held by a kernel driver, one that does not answer its ping) and one of an unknown vendor.
    // The bus keeps every enumeration and handle until it is reset, and by default a log of
    // every transfer: it is reset every round, and the log is off, so that nothing the bus
    // itself keeps counts against the product.
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

    // A device for `job` on root 1 at `port`, with its fault; the description the window would
    // pass for it.
    DeviceDescription plug(const Job &job, uint8_t port)
    {
        const vusb::NodeId node = bus_.plug(topology_.root1, port,
            norby(0x3600, job.repair ? NorbyState::SoftRepair : NorbyState::Application, 0x2B77,
                vdev::Reenumeration {})); // back at once
        if (job.unplugAfter)
            bus_.unplugAfterTransfers(node, job.unplugAfter);
        DeviceDescription desc = describe(node);
        desc.mode = job.repair ? SoftRepair : Normal;
        return desc;
    }

    // Twelve scans, each reporting the six known devices that answer, once each. Eight requests
    // queued at once through the task's three actions: the first cannot open the device, the
    // second read of the flags stalls; every request ends and the flags last written are
    // stored (what each result holds is the configuration tests' and the fault matrix's). Every
    // update completes once, reaching 100 without an error or failing with one error. Then a
    // window is closed with work queued in every part: what has begun runs to its end, the rest
    // is dropped together with the descriptions it carries.
    void round(int round)
    {
        Window &w = *window_;
        const QString at = QString("round %1: ").arg(round);
        for (int i = 0; i < 12; ++i) {
            w.scanned.events.clear();
            w.scanned.devices.clear();
            emit w.scanner.scan();
            QVERIFY2(w.scanned.waitForCompletes(1), qPrintable(at + "no scan end"));
            w.scanned.events.sort();
            QCOMPARE(w.scanned.events,
                QStringList({"complete", "device 3601", "device 3601", "device 3621", "device 3630",
                    "device 366f", "device f3"}));
        }

        const DeviceDescription desc = describe(settingsNode_);
        const UserMode mode {uint16_t(640 + round), uint16_t(480 + round), uint8_t(round & 1)};
        const uint8_t last = DeviceFlags::fromSwitches(round & 1, round & 2, round & 4);
        bus_.failOpen(settingsNode_, LIBUSB_ERROR_ACCESS, 2); // tried again after the list
        bus_.failRequest(settingsNode_, {0xE2, 2, 1, vdev::Pipe});
        w.events.clear();
        for (const uint8_t v : {uint8_t(last ^ 0x01), last}) {
            w.input.get(desc);
            w.modes.set(desc, mode, 0xB3, uint16_t(round % 3));
            w.flags.set(desc, v);
            w.flags.get(desc);
        }
        QVERIFY2(w.waitForCompletes(8) && w.events.count("error") == 2,
            qPrintable(at + w.events.join(' ')));
        uint8_t stored = 0;
        bus_.locked([&] { stored = settingsModel_->settings().flags(); });
        QCOMPARE(stored, last);

        for (size_t k = 0; k < std::size(jobs); ++k) {
            w.events.clear();
            emit w.updater.start(plug(jobs[k], uint8_t(2 + k)), paths_[k]);
            QVERIFY2(w.waitForCompletes(1) && w.events.contains("100") == jobs[k].succeeds
                    && w.events.count("error") == (jobs[k].succeeds ? 0 : 1),
                qPrintable(at + QString::number(k) + ": " + w.events.join(' ')));
        }

        Window closed;
        emit closed.scanner.scan();
        emit closed.scanner.scan();
        closed.flags.get(desc);
        closed.modes.set(desc, mode, 0xB3, 0);
        closed.flags.get(desc);
        emit closed.updater.start(plug(jobs[0], 8), paths_[0]);
    }

private slots:
    void initTestCase()
    {
        quiet_.emplace();
        for (size_t k = 0; k < std::size(jobs); ++k) {
            paths_[k] = writeUpdatePackage(zips_[k], jobs[k].product, jobs[k].setup);
            QVERIFY(!paths_[k].isEmpty());
        }
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
        // Round 0 is the warm-up. Once the threads of the window closed in a round have left the
        // process, only the kept window's three are left, and Qt D-Bus's connection thread, which
        // the first update's sleep lock starts for good.
        const long longLived = threadCount() + 4;
        window_ = std::make_unique<Window>();
        long heap[2] = {-1, -1}; // after the warm-up, at the end
        for (int r = 0; r <= Rounds; ++r) {
            buildBus();
            round(r);
            if (QTest::currentTestFailed())
                return;
            const std::string report = bus_.leakReport();
            QVERIFY2(
                report.empty(), qPrintable(QString("round %1: %2").arg(r).arg(report.c_str())));
            bus_.reset();
            if (r == 0 || r == Rounds) {
                QVERIFY2(waitFor([&] { return threadCount() <= longLived; }, 5000),
                    qPrintable(QString("round %1: %2 threads").arg(r).arg(threadCount())));
                heap[r != 0] = heapInUseKiB();
            }
        }
        qInfo("soak: heap %ld KiB -> %ld KiB", heap[0], heap[1]);
#if !SOAK_ASAN
        const long heapBound
            = qEnvironmentVariable("GLIBC_TUNABLES").contains("glibc.malloc.tcache_count=0")
            ? HeapBoundKiB
            : HeapBoundWithThreadCacheKiB;
        QVERIFY2(heap[0] < 0 || heap[1] - heap[0] <= heapBound, "heap in use grew");
#endif
    }
};

QTEST_GUILESS_MAIN(tst_Soak)
#include "tst_soak.moc"
