#include "rig.h"

namespace {

const QString truncated = "Error: sandbox microcode image is truncated";
const QString tooLarge = "Error: sandbox microcode image is too large: %1 bytes, at most 4194304";

// Two sections and the entry point in the second: header 4 bytes, the first section 8 + 8, the
// second 8 + 16, the terminating section at 44, the checksum at 52.
const std::vector<BootSection> sections
    = {{0x40000000, patternBytes(8)}, {0x40003000, patternBytes(12, 1) + "MARK"}};
const QByteArray good = bootImage(sections, 0x40003000);

// "address:length" per section, then "@" and the entry point.
QString describe(const Fx3BootImage &image)
{
    QStringList parts;
    for (const Fx3BootSection &section : image.sections)
        parts << QString::number(section.address, 16) + ':' + QString::number(section.data.size());
    return (parts << '@' + QString::number(image.entryPoint, 16)).join(' ');
}

// What every accepted image here holds, whatever comes after its checksum.
const QString goodImage = "40000000:8 40003000:16 @40003000";

// One byte past the largest image taken.
const QByteArray oversized = good + QByteArray(int(fx3BootImageMaxBytes) + 1 - good.size(), '\0');

// Boot images shaped like the ones FX3 tools write: "CY", image type 0xB0, control 0x1C (or
// 0x0E), a first section at 0x100, then code from 0x40003000 in sections of at most 16384 words
// that follow each other without a gap, sometimes a second-stage loader high in RAM, an entry
// point inside a loaded section, and up to about 200 KiB in all.
// The large image's code region of 150 KiB comes in three sections.
const std::vector<BootSection> small
    = {{0x100, patternBytes(64, 1)}, {0x40003000, patternBytes(48000, 2)}};
const std::vector<BootSection> large = {{0x100, patternBytes(256, 3)},
    {0x40003000, patternBytes(65536, 4)}, {0x40013000, patternBytes(65536, 5)},
    {0x40023000, patternBytes(22528, 6)}, {0x40078000, patternBytes(0x7238, 7)}};

// The boot loader's requests, as W(rite)/R(ead-back) address:length and S(tart) address; "!"
// marks one off the conventions (vendor type, device recipient, 1 s timeout).
QStringList ramRequests(vusb::NodeId node)
{
    QStringList out;
    for (const vusb::TransferRecord &t : vusb::Bus::instance().transfers(node)) {
        const QString kind = t.requestType == 0xC0 ? "R" : t.length ? "W" : "S";
        const bool conventional
            = t.request == 0xA0 && t.timeout == 1000 && (t.requestType & 0x7F) == 0x40;
        out << kind + QString::number(uint32_t(t.index) << 16 | t.value, 16)
                + (t.length ? ':' + QString::number(t.length) : QString())
                + (conventional ? "" : "!");
    }
    return out;
}

// What a complete download of `sections` looks like on the wire.
QStringList expectedWire(const std::vector<BootSection> &sections, uint32_t entry)
{
    QStringList out;
    for (const BootSection &s : sections) {
        for (int at = 0; at < s.data.size(); at += 4096) {
            const QString chunk = QString::number(s.address + uint32_t(at), 16) + ':'
                + QString::number(std::min(4096, int(s.data.size()) - at));
            out << 'W' + chunk << 'R' + chunk;
        }
    }
    return out << 'S' + QString::number(entry, 16);
}

} // namespace

// The sandbox microcode: its boot image taken apart before anything goes to the device, then
// loaded from a package member into the boot loader's RAM, each chunk written and read back, and
// started; a refused image sends nothing, and a failed or corrupted chunk ends the download
// unstarted.
class tst_BootImage : public BusTestCase
{
    Q_OBJECT

private slots:
    void parses_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("error"); // empty: accepted
        QTest::addColumn<QString>("image"); // as describe() gives it; a refused one is emptied

        const auto row
            = [](const char *name, const QByteArray &bytes, const QString &error,
                  const QString &image = "@0") { QTest::newRow(name) << bytes << error << image; };
        const QString signature = "Error: failed to verify microcode signature";
        QByteArray longSection = good.left(4);
        appendWord(longSection, 0x80001);
        appendWord(longSection, 0x40000000);
        const QByteArray longest
            = bootImage({{0x40000000, QByteArray(int(fx3SectionBufferBytes), 'x')}}, 0x40000000);

        row("valid", good, {}, goodImage);
        row("start only", bootImage({}, 0x40000100), {}, "@40000100");
        row("trailing stray byte accepted", good + 'x', {}, goodImage);
        row("longest section", longest, {}, "40000000:2097152 @40000000");
        row("largest image", oversized.chopped(1), {}, goodImage);
        row("empty", QByteArray(), signature);
        row("one byte", "C", signature);
        row("signature wrong", "CX" + good.mid(2), signature);
        // Cut in the image header, a section length, a load address, section data, the
        // terminating section, before and in the checksum.
        for (const int size : {3, 6, 10, 30, 48, 52, 55})
            row(qPrintable("ends after " + QString::number(size)), good.left(size), truncated);
        // The length is refused before the data it announces is looked for.
        row("section too long", longSection,
            "Error: microcode section at 0x40000000 is too long: 2097156 bytes, at most 2097152");
        for (const uint32_t off : {1u, 0xFFFFFFFFu}) // one too high, one too low
            row(off == 1 ? "checksum one too high" : "checksum one too low",
                bootImage(sections, 0x40003000, off), "FX3 checksum error");
        row("oversized", oversized, tooLarge.arg(4194305));
    }

    void parses()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, error);
        Reports errors;
        Fx3BootImage image {{}, 1}; // stale: a refused image is emptied
        const int rc = parseFx3BootImage(reinterpret_cast<const uint8_t *>(bytes.constData()),
            std::size_t(bytes.size()), image, errors.to());
        QCOMPARE(rc < 0, !error.isEmpty());
        QCOMPARE(errors.join('\n'), error);
        QTEST(describe(image), "image");
        if (describe(image) == goodImage)
            QCOMPARE(bytesOf(image.sections.back().data), patternBytes(12, 1) + "MARK");
    }

    void downloads_data()
    {
        QTest::addColumn<QByteArray>("image"); // null: missing
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("shape"); // the sections of a good image: small, large or none
        QTest::addColumn<QString>("error"); // empty: loaded and started
        QTest::addColumn<int>("sent"); // how many of the good image's requests go out; -1: all
        QTest::addColumn<QString>("progress"); // of a loaded image

        const auto row = [](const char *name, const QByteArray &image, const char *shape,
                             const QString &error, int sent, const char *progress = "",
                             ZipPackage::Method method = ZipPackage::Stored) {
            QTest::newRow(name) << image << int(method) << QString(shape) << error << sent
                                << QString(progress);
        };
        const QByteArray smallImage = bootImage(small, 0x40003A10);
        // The download takes the bar from 2 to 15, by the member's bytes written.
        row("two sections", smallImage, "small", "", -1, "2 14");
        row("five sections, split region, second stage, deflated",
            bootImage(large, 0x40013C44, 0, 0x0E), "large", "", -1, "2 6 11 12 14",
            ZipPackage::Deflated);
        row("no sections: start only", bootImage({}, 0x40003A10), "none", "", -1);
        // The whole image is read and checked before its first chunk goes out.
        row("truncated in the last section", smallImage.left(40000), "small", truncated, 0);
        const QString cannotOpen = "Error: failed to open sandbox microcode: sandbox.img";
        row("missing", QByteArray(), "none", cannotOpen, 0);
        row("encrypted", good, "none", cannotOpen, 0, "", ZipPackage::Encrypted);
        row("oversized", oversized, "none", tooLarge.arg(4194305), 0, "", ZipPackage::Deflated);
        // Patched after writing: the member's CRC no longer holds.
        row("damaged", good, "none", "Error: failed to read sandbox microcode: CRC error", 0);
        // Occurrences of 0xA0 count writes and read-backs alike; a failed start, the last
        // request, is the fault matrix's.
        row("read-back differs", smallImage, "small", "Fail to verify image", 6);
        const QString writeFails = "Error: failed to write microcode: LIBUSB_ERROR_PIPE";
        row("second write fails", smallImage, "small", writeFails, 3);
        row("second read-back fails", smallImage, "small", writeFails, 4);
    }

    void downloads()
    {
        QFETCH(QByteArray, image);
        QFETCH(int, method);
        QFETCH(QString, shape);
        QFETCH(QString, error);
        QFETCH(int, sent);

        const QByteArray tag = QTest::currentDataTag();
        ZipPackage package;
        ZipArchive archive = openedWith(
            package, "sandbox.img", image, tag == "damaged", ZipPackage::Method(method));
        const auto device = vdev::NorbyDevice::make(0x3600, vdev::NorbyState::SoftRepair);
        const vusb::NodeId node = vusb::Bus::instance().plug(Topology::build().hub, 1, device);
        if (tag == "read-back differs")
            device->bootLoader().corruptReadBackAt(0x40003000 + 5000);
        else if (tag.endsWith("fails"))
            vusb::Bus::instance().failRequest(node, {0xA0, sent, 1, vdev::Pipe});
        Reports errors;
        QStringList progress;
        {
            OpenedDevice opened = OpenedDevice::open(describe(node));
            QVERIFY(opened);
            const FlashContext context {
                opened.handle(), [&](int p) { progress << QString::number(p); }, errors.to()};
            QCOMPARE(loadFx3BootImage(context, "sandbox.img", archive) == 0, error.isEmpty());
        }
        QCOMPARE(errors.join('\n'), error);
        const std::vector<BootSection> parts = shape == "large" ? large
            : shape == "small"                                  ? small
                                                                : std::vector<BootSection>();
        const QStringList wire = expectedWire(parts, shape == "large" ? 0x40013C44 : 0x40003A10);
        QCOMPARE(ramRequests(node), sent < 0 ? wire : QStringList(wire.mid(0, sent)));
        QCOMPARE(bool(device->bootLoader().lastStart()), error.isEmpty());
        if (!error.isEmpty())
            return;
        QTEST(progress.join(' '), "progress");
        for (const BootSection &s : parts)
            QCOMPARE(bytesOf(device->bootLoader().ram(s.address, size_t(s.data.size()))), s.data);
    }
};

QTEST_GUILESS_MAIN(tst_BootImage)
#include "tst_bootimage.moc"
