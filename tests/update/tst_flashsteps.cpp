#include "rig.h"

#include <QRegularExpression>

Q_DECLARE_METATYPE(vusb::RequestFault)

namespace {

using Faults = QVector<vusb::RequestFault>;

// A stored member whose bytes no longer match its CRC, which libzip finds at its end.
const QByteArray damaged = patternBytes(8192).replace(100, 4, "MARK");

// A device in its application firmware, opened as the update opens it, a package holding
// `data` as `member` (none when `data` is null), and what a flashing step reports.
struct Rig {
    Rig(const std::string &member, const QByteArray &data, const Faults &faults = {})
        : device(vdev::NorbyDevice::make(0x3620, vdev::NorbyState::Application))
    {
        node = bus.plug(bus.addRootHub(1), 1, device);
        archive = openedWith(package, member, data, data == damaged);
        opened = OpenedDevice::open(describe(node));
        context.handle = opened.handle();
        context.progress
            = [this](int percent) { progress.emplace_back(bus.transfers(node).size(), percent); };
        context.error = errors.to();
        bus.clearTransfers();
        for (const vusb::RequestFault &fault : faults)
            bus.failRequest(node, fault);
    }

    // The transfers as request codes, "c2:4096" for one that sent data ("c2=<hex>" for up to 12
    // bytes), "c4x3" for a run of one request, each progress value where it came; "!" marks a
    // transfer off the conventions (type, value, index, length, timeout).
    QString trace(unsigned timeout = ControlRequest::TimeoutMs) const
    {
        QStringList out;
        const std::vector<vusb::TransferRecord> log = bus.transfers(node);
        auto mark = progress.begin();
        for (std::size_t i = 0; i <= log.size(); ++i) {
            for (; mark != progress.end() && mark->first == i; ++mark)
                out << QString::number(mark->second);
            if (i == log.size())
                break;
            const vusb::TransferRecord &t = log[i];
            const bool poll = t.request == 0xC4 || t.request == 0xC8;
            QString token = QString::number(t.request, 16);
            if (!poll && t.length > 0) // a frame's header or trailer in full
                token += t.length > 12 ? ':' + QString::number(t.length)
                                       : '=' + bytesOf(t.data).toHex();
            if (t.requestType != (poll ? 0xC0 : 0x40) || t.value != 0 || t.index != 0
                || t.length != (poll ? 1 : t.data.size()) || t.timeout != timeout)
                token += '!';
            const int run = out.isEmpty() ? 0 : out.last().section('x', 1).toInt();
            if (!out.isEmpty() && out.last().section('x', 0, 0) == token)
                out.last() = token + 'x' + QString::number(std::max(run, 1) + 1);
            else
                out << token;
        }
        return out.join(' ');
    }

    vusb::Bus &bus = vusb::Bus::instance();
    LogCapture log;
    std::shared_ptr<vdev::NorbyDevice> device;
    vusb::NodeId node = -1;
    ZipPackage package;
    ZipArchive archive;
    OpenedDevice opened;
    Reports errors;
    std::vector<std::pair<std::size_t, int>> progress; // after how many transfers, value
    FlashContext context;
};

} // namespace

// The flashing steps one by one: the FX3 microcode, the FPGA image in both framings, the EDID.
class tst_FlashSteps : public BusTestCase
{
    Q_OBJECT

private slots:
    // A failed last request of a step is the fault matrix's: nothing can follow it. A failed
    // start must not be followed by anything, which the fault matrix does not look at.
    // The step, what it reads, the faults: "<step> [busy | busy for ever | empty status]" (the
    // status read busy twice after each piece, for ever, or without data) or "edid <start>".
    void steps_data()
    {
        QTest::addColumn<QString>("step");
        QTest::addColumn<QByteArray>("member"); // null: missing
        QTest::addColumn<Faults>("faults");
        QTest::addColumn<QString>("trace"); // a pattern
        QTest::addColumn<QString>("error"); // the reports, one a line
        QTest::addColumn<int>("result");

        const auto row = [](const char *name, const char *step, const QByteArray &member,
                             const QString &trace, const QString &error, int result,
                             const Faults &faults = {}) {
            QTest::newRow(name) << QString(step) << member << faults << trace << error << result;
        };
        const int pipe = LIBUSB_ERROR_PIPE, timeout = LIBUSB_ERROR_TIMEOUT;
        const auto fail = [](uint8_t request, int code, int from = 1) {
            return Faults {{request, from, 1, code}};
        };

        const QByteArray two = patternBytes(8192);
        const QString fx3TimedOut
            = "Error: failed to request flash status for FX3: LIBUSB_ERROR_TIMEOUT";
        row("fx3: two chunks, slow flash", "fx3 busy", two,
            "c5 c8x3 c6:4096 20 c8x3 c6:4096 30 c8x3 c7", "", 0);
        row("fx3: not whole words, nothing sent", "fx3", patternBytes(4098), "",
            "Error: microcode block does not aligned by 32 bit length: 2", -1);
        row("fx3: empty", "fx3", "", "c5 c8 c7", "", 0);
        row("fx3: missing", "fx3", QByteArray(), "",
            "Error: failed to find microcode image: kestrel3.img", -1);
        row("fx3: start stalls", "fx3", two, "c5",
            "Error: failed to start microcode reflashing: Pipe error", -9, fail(0xC5, pipe));
        row("fx3: status times out", "fx3", two, "c5 c8 c6:4096 20 c8 c7", fx3TimedOut, -7,
            fail(0xC8, timeout, 2));
        row("fx3: busy for ever", "fx3 busy for ever", two, "c5 c8x\\d+", fx3TimedOut, -7);
        row("fx3: status without data", "fx3 empty status", two, "c5 c8x\\d+", fx3TimedOut, -7);
        row("fx3: chunk and completion fail, the first is reported", "fx3", two,
            "c5 c8 c6:4096 20 c8 c6:4096 c7", "Error: failed to write microcode block: Pipe error",
            -9, fail(0xC6, pipe, 2) + fail(0xC7, timeout));
        row("fx3: damaged member, run left open", "fx3", damaged,
            "c5 c8 c6:4096 20 c8 c6:4096 30 c8", "Error: failed to read microcode image: CRC error",
            -1);

        const QByteArray i10k = patternBytes(10000);
        const QString head10k = "c2=465047411027000063b1d0b3"; // "FPGA", 10000, CRC of the two
        // The run is still closed after a failure, but only the first one reaches the user.
        const QString block = "Error: failed to write FPGA block:  LIBUSB_ERROR_PIPE";
        row("framed 10000", "framed", i10k,
            "c1 c4x3 " + head10k
                + " c2:4096 47 c4x3 c2:4096 60 c4x3 c2:1808 66 c4x3 c2=b5f83d33 c4x3 c3",
            "", 0);
        row("framed empty", "framed", "", "c1 c4x3 c2=465047410000000099b6cbde c2=00000000 c4x3 c3",
            "", 0);
        row("plain 10000", "plain", i10k,
            "c1 c4x3 c2:4096 47 c4x3 c2:4096 60 c4x3 c2:1808 66 c4x3 c3", "", 0);
        row("framed missing", "framed", QByteArray(), "c1", "Error: failed to find FPGA image", -1);
        row("fpga start stalls", "framed", i10k, "c1",
            "Error: failed to start FPGA reflashing: LIBUSB_ERROR_PIPE", -9, fail(0xC1, pipe));
        row("fpga header stalls", "framed", i10k, "c1 c4x3 " + head10k,
            "Error: failed to write FPGA header block:  LIBUSB_ERROR_PIPE", -9, fail(0xC2, pipe));
        row("plain chunk stalls: completion follows, the chunk's code wins", "plain", i10k,
            "c1 c4x3 c2:4096 47 c4x3 c2:4096 c3", block, -9,
            fail(0xC2, pipe, 2) + fail(0xC3, timeout));
        // The trailer counts the refused chunk too; the device takes it for image data, so the
        // completion finds no trailer.
        row("framed chunk stalls: trailer, poll, completion", "framed", i10k,
            "c1 c4x3 " + head10k + " c2:4096 47 c4x3 c2:4096 c2=1d5ec380 c4x3 c3", block, -9,
            fail(0xC2, pipe, 3));
        row("framed trailer times out", "framed", patternBytes(100),
            "c1 c4x3 c2=4650474164000000cdd68f6a c2:100 66 c4x3 c2=6c66b867 c4 c3",
            "Error: failed FPGA CRC check: LIBUSB_ERROR_TIMEOUT", -7, fail(0xC2, timeout, 3));
        row("fpga status fails: no completion", "plain", i10k, "c1 c4x3 c2:4096 47 c4",
            "Error: failed to request flash status for FPGA: LIBUSB_ERROR_TIMEOUT", -7,
            fail(0xC4, timeout, 4));
        row("framed damaged member: no trailer, no completion", "framed", damaged,
            "c1 c4x3 c2=465047410020000079f086e6 c2:4096 50 c4x3 c2:4096 66 c4x3",
            "Error: failed to read FPGA image: CRC error", -1);

        const QByteArray good = edidText(makeEdid(2));
        std::vector<uint8_t> badSum = makeEdid(2);
        badSum[200] ^= 1;
        row("edid: two blocks", "edid 80", good, "84 88 cf 92 d2:256 96 d4 100", "", 0);
        row("edid: range below five steps", "edid 97", edidText(makeEdid(1)),
            "97 97 cf 97 d2:128 97 d4 97", "", 0);
        row("edid: missing", "edid 80", QByteArray(), "", "Can't open EDID file", -1);
        row("edid: damaged member", "edid 80", damaged, "", "Can't read EDID file", -1);
        // A refused EDID reports no progress: nothing of the step was done.
        row("edid: bad checksum", "edid 80", edidText(badSum), "",
            "EDID data has incorrect checksum", -1);
        // Read only as far as the parser needs to refuse it, which the echo shows.
        row("edid: text past the limit", "edid 80",
            good + QByteArray(int(2 * textImageMaxTextSize), ' '), "",
            "EDID data has incorrect format", -1);
        row("edid: NUL bytes past the limit", "edid 80",
            good + QByteArray(int(2 * textImageMaxTextSize), '\0'), "",
            "EDID data has incorrect format", -1);
        // The update refuses such an image before it starts; the step holds the system's limit
        // on one control transfer all the same.
        row("edid: beyond one control transfer", "edid 80", edidText(makeEdid(33)), "84",
            "EDID data is too large to send: 4224 bytes; one USB control transfer carries at most "
            "4096 bytes on this system",
            -1);
        row("edid: begin stalls", "edid 80", good, "84 88 cf",
            "Can't initiate EDID IO access (err: -9)", -1, fail(0xCF, pipe));
        // The access stays open when the closing request does not reach the device.
        row("edid: write times out", "edid 80", good, "84 88 cf 92 d2:256",
            "Can't send EDID data to the device (err: -7)", -1, fail(0xD2, timeout));
    }

    void steps()
    {
        QFETCH(QString, step);
        QFETCH(QByteArray, member);
        QFETCH(Faults, faults);
        QFETCH(QString, trace);
        QFETCH(QString, error);
        QFETCH(int, result);

        const QString kind = step.section(' ', 0, 0);
        // The steps take whatever member they are given.
        const std::string name = "kestrel3.img";
        Rig rig(name, member, faults);
        QVERIFY(rig.opened);
        vdev::NorbyFlash &flash = rig.device->flash();
        const QString polls = step.section(' ', 1);
        flash.setBusyPolls(polls == "busy" || kind == "framed" || kind == "plain" ? 2
                : polls.isEmpty() || kind == "edid"                               ? 0
                                                                                  : -1);
        flash.setEmptyStatus(polls == "empty status");
        flash.setFpgaFormat(kind == "framed" ? vdev::NorbyFlash::FpgaFormat::Framed
                                             : vdev::NorbyFlash::FpgaFormat::Plain);
        int rc = 0;
        if (kind == "fx3") {
            rig.context.readyTimeout = std::chrono::milliseconds(30);
            rc = flashFx3Microcode(rig.context, 10, 30, name, rig.archive);
        } else if (kind == "edid") {
            rc = uploadEdid(rig.context, polls.toInt(), 100, name, rig.archive);
        } else {
            rc = (kind == "framed" ? flashFpgaFramed : flashFpgaPlain)(
                rig.context, 34, 66, name, rig.archive);
        }
        QCOMPARE(rc, result);
        const QString sent
            = rig.trace(kind == "edid" ? ControlRequest::EdidTimeoutMs : ControlRequest::TimeoutMs);
        QVERIFY2(
            QRegularExpression(QRegularExpression::anchoredPattern(trace)).match(sent).hasMatch(),
            qPrintable(sent));
        QCOMPARE(rig.errors.join('\n'), error);
        const QByteArray written = kind == "fx3" ? bytesOf(flash.fx3Flash())
            : kind == "edid"                     ? edidText(flash.edid())
                                                 : bytesOf(flash.fpgaFlash());
        // Only a completed upload writes an EDID; an access left open stays open.
        if (rc == 0 || kind == "edid")
            QCOMPARE(written, rc == 0 ? member : edidText({}));
        QCOMPARE(flash.edidAccessOpen(), rc != 0 && trace.contains("d2:"));
        QVERIFY(rig.log.errors().size() < textImageMaxTextSize + 1000);
    }

    // A member the archive reports empty, or shorter than it reads, keeps the bar in range (the
    // usual case is in the traces of steps()).
    void progressGuards()
    {
        QCOMPARE(flashProgress(34, 66, 4096, 0), 66);
        QCOMPARE(flashProgress(34, 66, 8192, 4096), 66);
        // A zip64 size beyond 2^63 neither turns negative nor wraps.
        QCOMPARE(flashProgress(2, 34, 4096, UINT64_MAX - 3), 2);
        QCOMPARE(flashProgress(2, 34, uint64_t(1) << 63, UINT64_MAX), 18);
    }
};

QTEST_GUILESS_MAIN(tst_FlashSteps)
#include "tst_flashsteps.moc"
