#pragma once

#include "norbydevice.h"
#include "virtualbus.h"
#include "zippackage.h"

#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// What the benchmark programs share: their repetition count, the statistics they print, a
// fresh bus with one device, the update package and the process's memory figures.
namespace bench {

// The smallest, the middle and the largest of a set of samples. The median is the figure to
// quote: one lucky or one descheduled repetition moves the minimum or the maximum, not it.
struct Figures {
    double min = 0;
    double median = 0;
    double max = 0;
};
Figures figuresOf(std::vector<double> samples);

// "-n N" on the command line, else `fallback`.
int repetitions(int argc, char **argv, int fallback);

// One line per repetition, so a noisy run shows where it was noisy.
void printSample(const char *what, int repetition, const QString &text);
// A figure with its spread: "name  min X  median Y  max Z unit".
void printFigures(const char *name, const Figures &figures, const char *unit);
// The row bench/run collects into its table: the figure, its target, the measured min and
// median, and the ratio (min and median) or "-" where the figure is not a ratio.
void printRow(const QString &figure, const QString &target, const QString &measuredMin,
    const QString &measuredMedian, const QString &ratioMin, const QString &ratioMedian);
QString number(double value, int decimals = 2);

using Clock = std::chrono::steady_clock;
inline double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Bytes that repeat with a period that is not a divisor of the 4096-byte chunk (so every
// chunk differs from its neighbours) and that deflate packs two hundredfold, so a package with
// a large image stays small on disk. `offset` is the position of the first byte in the
// image, for filling the image a piece at a time.
void fillPattern(uint8_t *out, std::size_t size, uint64_t offset = 0, uint8_t seed = 0);
QByteArray patternImage(std::size_t size, uint8_t seed = 0);

// A KESTREL3 package: product.info, 256 KiB of microcode and an FPGA image of `fpgaBytes`
// (both written as `method`), the sandbox boot image and a two-block EDID. Written into the
// package's temporary folder (under /tmp); the path, or empty when libzip failed.
QString writeKestrelPackage(testsupport::ZipPackage &package, std::size_t fpgaBytes,
    testsupport::ZipPackage::Method method);
constexpr std::size_t microcodeBytes = 256 * 1024;

// A KESTREL3 (family 0x3600) in its application firmware, framed FPGA loader.
std::shared_ptr<vdev::NorbyDevice> kestrel3();

// Starts the bus over with the usual two-bus tree and `model` on port 2 of the external hub
// (bus 2, path 3.2); its node. The transfer log is off unless `record` asks for it: it keeps a
// copy of every byte sent, which would grow with the image.
vusb::NodeId freshBus(std::shared_ptr<vdev::UsbDeviceModel> model, bool record = false);

// A thread that waits for work, as the product's workers wait in their event loops: the raw
// loops run on one, so they pay for handing the work over and back as the product does.
class WorkerThread
{
public:
    WorkerThread();
    ~WorkerThread();
    WorkerThread(const WorkerThread &) = delete;
    WorkerThread &operator=(const WorkerThread &) = delete;

    // Runs `job` on the thread and returns when it is done.
    void run(std::function<void()> job);

private:
    void loop();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> job_;
    bool quit_ = false;
    std::thread thread_;
};

// Fields of /proc/self/status in KiB ("VmHWM", "VmRSS"); -1 when absent.
long statusKiB(const char *field);
// The process's minor page faults so far.
long minorFaults();
// Makes VmHWM start again from the present resident size; false when the kernel refused.
bool resetPeakResident();

} // namespace bench
