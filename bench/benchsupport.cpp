#include "benchsupport.h"

#include "bootimage.h"
#include "buschecks.h"
#include "edidtext.h"
#include "producttable.h"

#include <QFile>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>

namespace bench {

Figures figuresOf(std::vector<double> samples)
{
    Figures f;
    if (samples.empty())
        return f;
    std::sort(samples.begin(), samples.end());
    const std::size_t n = samples.size();
    f.min = samples.front();
    f.max = samples.back();
    f.median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
    return f;
}

int repetitions(int argc, char **argv, int fallback)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "-n") == 0)
            return std::max(1, std::atoi(argv[i + 1]));
    }
    return fallback;
}

QString number(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

void printSample(const char *what, int repetition, const QString &text)
{
    std::printf("  %-28s #%-2d %s\n", what, repetition + 1, qPrintable(text));
    std::fflush(stdout);
}

void printFigures(const char *name, const Figures &f, const char *unit)
{
    std::printf(
        "%-30s min %10.3f  median %10.3f  max %10.3f %s\n", name, f.min, f.median, f.max, unit);
    std::fflush(stdout);
}

void printRow(const QString &figure, const QString &target, const QString &measuredMin,
    const QString &measuredMedian, const QString &ratioMin, const QString &ratioMedian)
{
    // One tab-separated line with a fixed prefix: bench/run picks these out of everything
    // else the programs print and lays them out as its table.
    std::printf("ROW\t%s\t%s\t%s\t%s\t%s\t%s\n", qPrintable(figure), qPrintable(target),
        qPrintable(measuredMin), qPrintable(measuredMedian), qPrintable(ratioMin),
        qPrintable(ratioMedian));
    std::fflush(stdout);
}

void fillPattern(uint8_t *out, std::size_t size, uint64_t offset, uint8_t seed)
{
    constexpr uint64_t period = 1021; // prime: never lines up with a chunk
    uint64_t phase = offset % period;
    for (std::size_t i = 0; i < size; ++i) {
        out[i] = uint8_t(phase * 7 + phase / 253 + seed);
        if (++phase == period)
            phase = 0;
    }
}

QByteArray patternImage(std::size_t size, uint8_t seed)
{
    QByteArray bytes(int(size), '\0');
    fillPattern(reinterpret_cast<uint8_t *>(bytes.data()), size, 0, seed);
    return bytes;
}

QString writeKestrelPackage(
    testsupport::ZipPackage &package, std::size_t fpgaBytes, testsupport::ZipPackage::Method method)
{
    const ProductInfo &row = productTable.at("kestrel3");
    package.add("product.info", "kestrel3\n");
    package.add(row.microcodeImage, patternImage(microcodeBytes, 1), method);
    package.add(row.fpgaImage, patternImage(fpgaBytes, 2), method);
    package.add(row.sandboxImage,
        testsupport::bootImage({{0x40000000, patternImage(4096, 3)}}, 0x40000000));
    package.add(row.edidFile, testsupport::edidText(testsupport::makeEdid(2, 4)));
    return package.write();
}

std::shared_ptr<vdev::NorbyDevice> kestrel3()
{
    vdev::NorbyDevice::Config config;
    config.familyId = 0x3600;
    config.state = vdev::NorbyState::Application;
    return std::make_shared<vdev::NorbyDevice>(config);
}

vusb::NodeId freshBus(std::shared_ptr<vdev::UsbDeviceModel> model, bool record)
{
    vusb::Bus &bus = vusb::Bus::instance();
    bus.reset(); // which turns the log back on
    bus.setRecordTransfers(record);
    const testsupport::Topology topology = testsupport::Topology::build();
    return bus.plug(topology.hub, 2, std::move(model));
}

WorkerThread::WorkerThread()
    : thread_([this] { loop(); })
{
}

WorkerThread::~WorkerThread()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void WorkerThread::run(std::function<void()> job)
{
    std::unique_lock<std::mutex> lock(mutex_);
    job_ = std::move(job);
    changed_.notify_all();
    changed_.wait(lock, [this] { return !job_; });
}

void WorkerThread::loop()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return quit_ || job_; });
        if (quit_)
            return;
        lock.unlock();
        job_();
        lock.lock();
        job_ = nullptr;
        changed_.notify_all();
    }
}

long statusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

long minorFaults()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

bool resetPeakResident()
{
    // "5" resets the peak resident size (VmHWM) to the present one (Linux 4.0 on).
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

} // namespace bench
