// Peak resident memory of an update with a 256 MiB FPGA image minus that of an update with a
// 1 MiB one: what the product needs for the larger image on top, which stays near zero when it
// streams the image instead of holding it.
//
// The stock device model keeps what the host streams until the run completes, and then as its
// flash: a 256 MiB image costs the model 256 MiB of the process's memory. That is not the
// product's, so the device here is a NorbyDevice whose FPGA loader is replaced by one that
// checks the framed stream (header, size, CRC trailer) as it passes and keeps nothing. Every
// other request (ping, microcode, EDID) goes to the NorbyDevice as usual.
//
// Each measurement is a process of its own (this program started again with --child): a peak
// is a process's high-water mark, and memory an earlier update gave back to malloc but not to
// the system would hide part of the next one's. The child first runs a small update to load
// and touch everything an update uses, resets its high-water mark, and then reports the peak
// of the measured update above its resident size at that point.

#include "benchsupport.h"
#include "buschecks.h"
#include "updatetask.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <zlib.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <functional>

using namespace std::chrono_literals;

namespace {

const UpdatePacing noPauses {0ms, 0ms, 0ms, flashReadyTimeout};
constexpr std::size_t MiB = 1024 * 1024;
constexpr std::size_t smallImage = 1 * MiB;
constexpr std::size_t largeImage = 256 * MiB;

uint32_t readLe32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The device of the figure: a NorbyDevice whose framed FPGA loader keeps a count and a CRC
// instead of the image. It accepts what the stock loader accepts and commits when the stock
// one commits; what it committed is checked against the image the package holds.
class StreamingFpgaDevice : public vdev::UsbDeviceModel
{
public:
    StreamingFpgaDevice()
        : inner_(bench::kestrel3())
    {
    }

    vdev::Identity identity() const override { return inner_->identity(); }
    std::optional<std::string> stringDescriptor(uint8_t index) const override
    {
        return inner_->stringDescriptor(index);
    }
    std::optional<vdev::Reenumeration> takeReenumeration() override
    {
        return inner_->takeReenumeration();
    }

    int control(const vdev::ControlSetup &setup, uint8_t *data) override
    {
        enum : uint8_t { Start = 0xC1, Write = 0xC2, Complete = 0xC3, Status = 0xC4 };
        if (setup.deviceToHost()) {
            if (setup.request != Status)
                return inner_->control(setup, data);
            if (setup.length == 0)
                return 0;
            data[0] = 1; // ready
            return 1;
        }
        switch (setup.request) {
        case Start:
            run_ = Run();
            run_.open = true;
            return 0;
        case Write:
            return piece(data, setup.length);
        case Complete:
            if (!run_.open || !run_.trailerSeen)
                return vdev::Pipe;
            committedBytes = run_.received;
            committedCrc = run_.crc;
            ++commits;
            run_ = Run();
            return 0;
        default:
            return inner_->control(setup, data);
        }
    }

    uint64_t committedBytes = 0;
    uint32_t committedCrc = 0;
    int commits = 0;

private:
    struct Run {
        bool open = false;
        bool headerSeen = false;
        bool trailerSeen = false;
        uint64_t announced = 0;
        uint64_t received = 0;
        uint32_t crc = 0;
    };

    int piece(const uint8_t *data, uint16_t length)
    {
        if (!run_.open || length == 0 || length > 4096)
            return vdev::Pipe;
        if (!run_.headerSeen) {
            if (length != 12 || std::memcmp(data, "FPGA", 4) != 0
                || readLe32(data + 8) != uint32_t(crc32(0, data, 8)))
                return vdev::Pipe;
            run_.announced = readLe32(data + 4);
            run_.headerSeen = true;
        } else if (run_.received < run_.announced) {
            if (run_.received + length > run_.announced)
                return vdev::Pipe;
            run_.crc = uint32_t(crc32(run_.crc, data, length));
            run_.received += length;
        } else if (!run_.trailerSeen) {
            if (length != 4 || readLe32(data) != run_.crc)
                return vdev::Pipe;
            run_.trailerSeen = true;
        } else {
            return vdev::Pipe;
        }
        return length;
    }

    std::shared_ptr<vdev::NorbyDevice> inner_;
    Run run_;
};

// The CRC of the pattern image of `size` bytes, made a piece at a time so the check costs no
// memory of its own.
uint32_t patternCrc(std::size_t size)
{
    std::array<uint8_t, 65536> piece;
    uint32_t crc = 0;
    for (std::size_t done = 0; done < size; done += piece.size()) {
        const std::size_t n = std::min(piece.size(), size - done);
        bench::fillPattern(piece.data(), n, done, 2);
        crc = uint32_t(crc32(crc, piece.data(), uInt(n)));
    }
    return crc;
}

// The device of a child: the streaming one for the figure, or the stock NorbyDevice to show
// what the model's own copy adds.
struct Device {
    std::shared_ptr<vdev::UsbDeviceModel> model;
    // Whether the device committed exactly the pattern image of that size.
    std::function<bool(std::size_t)> received;
    // What the model holds of the image, in KiB (its flash vector's capacity).
    std::function<long()> heldKiB;
};

Device makeDevice(bool stock)
{
    if (stock) {
        auto norby = bench::kestrel3();
        return {norby,
            [norby](std::size_t size) {
                const std::vector<uint8_t> &flash = norby->flash().fpgaFlash();
                return flash.size() == size
                    && uint32_t(crc32(0, flash.data(), uInt(flash.size()))) == patternCrc(size);
            },
            [norby] { return long(norby->flash().fpgaFlash().capacity() / 1024); }};
    }
    auto streaming = std::make_shared<StreamingFpgaDevice>();
    return {streaming,
        [streaming](std::size_t size) {
            return streaming->committedBytes == size && streaming->committedCrc == patternCrc(size);
        },
        [] { return 0L; }};
}

// One update of the device at `node` with `package`; false when it failed or the device did
// not commit the whole image.
bool update(const Device &device, vusb::NodeId node, const QString &package, std::size_t imageBytes)
{
    {
        DeviceDescription desc = testsupport::describe(node);
        UpdateTask task(nullptr, noPauses);
        QEventLoop loop;
        bool failed = false;
        QObject::connect(&task, &UpdateTask::complete, &loop, &QEventLoop::quit);
        QObject::connect(&task, &UpdateTask::error, [&](const QString &text) {
            std::fprintf(stderr, "update failed: %s\n", qPrintable(text));
            failed = true;
        });
        emit task.start(desc, package);
        loop.exec();
        if (failed)
            return false;
    } // the task joins its worker here
    if (!device.received(imageBytes)) {
        std::fprintf(stderr, "the device did not receive the whole image\n");
        return false;
    }
    return true;
}

// The child: a warm-up update with `warmup`, then the measured one with `package`. Prints
// "peak <KiB above the start> held <KiB the model holds of the image>".
int child(bool stock, const QString &warmup, const QString &package, std::size_t imageBytes)
{
    const Device device = makeDevice(stock);
    const vusb::NodeId node = bench::freshBus(device.model);
    if (!update(device, node, warmup, smallImage))
        return 1;
    if (!bench::resetPeakResident()) {
        std::fprintf(stderr, "cannot reset the peak resident size\n");
        return 1;
    }
    const long start = bench::statusKiB("VmRSS");
    if (!update(device, node, package, imageBytes))
        return 1;
    const long peak = bench::statusKiB("VmHWM");
    std::printf("peak %ld held %ld\n", peak - start, device.heldKiB());
    vusb::Bus::instance().reset();
    return 0;
}

struct ChildResult {
    double peakKiB = -1;
    double heldKiB = 0;
};

// Runs one child; a negative peak when it failed.
ChildResult measureChild(const QString &self, bool stock, const QString &warmup,
    const QString &package, std::size_t imageBytes)
{
    QProcess process;
    // The product logs every chunk on standard error; thrown away here, it would otherwise
    // fill a pipe nobody reads.
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(self,
        {"--child", stock ? "stock" : "streaming", warmup, package,
            QString::number(qulonglong(imageBytes))});
    ChildResult result;
    if (!process.waitForFinished(600000) || process.exitCode() != 0) {
        std::fprintf(stderr, "child failed (exit %d)\n", process.exitCode());
        return result;
    }
    const QList<QByteArray> words = process.readAllStandardOutput().simplified().split(' ');
    if (words.size() == 4 && words[0] == "peak" && words[2] == "held") {
        result.peakKiB = words[1].toDouble();
        result.heldKiB = words[3].toDouble();
    }
    return result;
}

// Pairs of children, the 1 MiB image and the 256 MiB one; the figures of their difference.
bool measure(const QString &self, bool stock, int reps, const QString &small, const QString &large)
{
    const char *label = stock ? "memory, stock model" : "memory";
    std::vector<double> smallPeaks, largePeaks, extra, productExtra;
    for (int rep = 0; rep < reps; ++rep) {
        const ChildResult s = measureChild(self, stock, small, small, smallImage);
        const ChildResult l = measureChild(self, stock, small, large, largeImage);
        if (s.peakKiB < 0 || l.peakKiB < 0)
            return false;
        smallPeaks.push_back(s.peakKiB / 1024);
        largePeaks.push_back(l.peakKiB / 1024);
        extra.push_back((l.peakKiB - s.peakKiB) / 1024);
        // What is left once the model's flash is taken out. Its final capacity is all of it
        // the peak holds: when the buffer doubles, the old one and the copy in the new one
        // together are the size the new one has once full (untouched pages are not resident).
        productExtra.push_back(((l.peakKiB - l.heldKiB) - (s.peakKiB - s.heldKiB)) / 1024);
        bench::printSample(label, rep,
            QStringLiteral("peak +%1 MiB (1 MiB image), +%2 MiB (256 MiB image): difference %3 "
                           "MiB; model holds %4 / %5 MiB")
                .arg(bench::number(smallPeaks.back()), bench::number(largePeaks.back()),
                    bench::number(extra.back()), bench::number(s.heldKiB / 1024),
                    bench::number(l.heldKiB / 1024)));
    }
    const bench::Figures d = bench::figuresOf(extra);
    bench::printFigures("  peak, 1 MiB image (MiB)", bench::figuresOf(smallPeaks), "MiB");
    bench::printFigures("  peak, 256 MiB image (MiB)", bench::figuresOf(largePeaks), "MiB");
    bench::printFigures("  difference (MiB)", d, "MiB");
    if (stock) {
        const bench::Figures p = bench::figuresOf(productExtra);
        bench::printFigures("  difference less model (MiB)", p, "MiB");
        bench::printRow(QStringLiteral("(stock model) peak RSS, 256-1 MiB (MiB)"),
            QStringLiteral("for reference"), bench::number(d.min), bench::number(d.median), "-",
            "-");
        bench::printRow(QStringLiteral("(stock model) the same less its flash"),
            QStringLiteral("for reference"), bench::number(p.min), bench::number(p.median), "-",
            "-");
    } else {
        bench::printRow(QStringLiteral("peak RSS, 256 MiB - 1 MiB image (MiB)"),
            QStringLiteral("<= 2 MiB"), bench::number(d.min), bench::number(d.median), "-", "-");
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 6 && args[1] == "--child")
        return child(args[2] == "stock", args[3], args[4], std::size_t(args[5].toULongLong()));

    const int reps = bench::repetitions(argc, argv, 5);
    // Deflated: the pattern packs two hundredfold, so even the 256 MiB package is small on
    // disk (and in /tmp, where the packages are written).
    testsupport::ZipPackage smallZip, largeZip;
    const QString small
        = bench::writeKestrelPackage(smallZip, smallImage, testsupport::ZipPackage::Deflated);
    const QString large
        = bench::writeKestrelPackage(largeZip, largeImage, testsupport::ZipPackage::Deflated);
    if (small.isEmpty() || large.isEmpty())
        return 1;
    std::printf("packages: %s (%lld bytes), %s (%lld bytes)\n", qPrintable(small),
        QFileInfo(small).size(), qPrintable(large), QFileInfo(large).size());

    if (!measure(QCoreApplication::applicationFilePath(), false, reps, small, large))
        return 1;
    // The stock model for reference, when asked: it holds the 256 MiB image and takes seconds.
    if (args.contains("--stock")
        && !measure(QCoreApplication::applicationFilePath(), true, std::min(reps, 3), small, large))
        return 1;
    return 0;
}
