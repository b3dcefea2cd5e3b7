#include "rig.h"

namespace {

// Boot images shaped like the ones FX3 tools write: "CY", image type 0xB0, control 0x1C (or
// 0x0E), a first section at 0x100, then code from 0x40003000 in sections of at most 16384 words
// that follow each other without a gap, sometimes a second-stage loader high in RAM, an entry
// point inside a loaded section, and up to about 200 KiB in all.
std::vector<BootSection> region(uint32_t address, int bytes, int seed)
{
    std::vector<BootSection> sections;
    constexpr int maxSection = 16384 * 4;
    for (int at = 0; at < bytes; at += maxSection)
        sections.push_back({address + uint32_t(at),
            patternBytes(std::min(maxSection, bytes - at), seed + at / maxSection)});
    return sections;
}

std::vector<BootSection> join(std::initializer_list<std::vector<BootSection>> parts)
{
    std::vector<BootSection> all;
    for (const auto &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

const std::vector<BootSection> small = join({region(0x100, 64, 1), region(0x40003000, 48000, 2)});
const std::vector<BootSection> large = join(
    {region(0x100, 256, 3), region(0x40003000, 150 * 1024, 4), region(0x40078000, 0x7238, 5)});

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

// The sandbox microcode loaded into the boot loader's RAM from a package member: images shaped
// as real ones are, each chunk written and read back, then started; a refused image sends
// nothing, and a failed or corrupted chunk ends the download unstarted.
class tst_BootShapes : public BusTestCase
{
    Q_OBJECT

private slots:
    void downloads_data();
    void downloads();
};

void tst_BootShapes::downloads_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<QString>("shape"); // the sections of a good image: small, large or none
    QTest::addColumn<QString>("error"); // empty: loaded and started
    QTest::addColumn<int>("sent"); // how many of the good image's requests go out; -1: all
    QTest::addColumn<QString>("progress"); // of a loaded image

    const auto row = [](const char *name, const QByteArray &image, const char *shape,
                         const QString &error, int sent, const char *progress = "") {
        QTest::newRow(name) << image << QString(shape) << error << sent << QString(progress);
    };
    const QByteArray smallImage = bootImage(small, 0x40003A10);
    // The download takes the bar from 2 to 15, by the member's bytes written.
    row("two sections", smallImage, "small", "", -1, "2 14");
    row("five sections, split region, second stage", bootImage(large, 0x40013C44, 0, 0x0E), "large",
        "", -1, "2 6 11 12 14");
    row("no sections: start only", bootImage({}, 0x40003A10), "none", "", -1);
    // The whole image is checked before its first chunk goes out (its refusals: tst_bootimage).
    row("truncated in the last section", smallImage.left(40000), "small",
        "Error: sandbox microcode image is truncated", 0);
    // Occurrences of 0xA0 count writes and read-backs alike; a failed start, the last request, is
    // the fault matrix's.
    row("read-back differs", smallImage, "small", "Fail to verify image", 6);
    const QString writeFails = "Error: failed to write microcode: LIBUSB_ERROR_PIPE";
    row("second write fails", smallImage, "small", writeFails, 3);
    row("second read-back fails", smallImage, "small", writeFails, 4);
}

void tst_BootShapes::downloads()
{
    QFETCH(QByteArray, image);
    QFETCH(QString, shape);
    QFETCH(QString, error);
    QFETCH(int, sent);

    ZipPackage package;
    ZipArchive archive = openedWith(package, "sandbox.img", image);
    const auto device = vdev::NorbyDevice::make(0x3600, vdev::NorbyState::SoftRepair);
    const vusb::NodeId node = vusb::Bus::instance().plug(Topology::build().hub, 1, device);
    const QByteArray tag = QTest::currentDataTag();
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
    QCOMPARE(errors, reported(error));
    const std::vector<BootSection> sections = shape == "large" ? large
        : shape == "small"                                     ? small
                                                               : std::vector<BootSection>();
    const QStringList wire = expectedWire(sections, shape == "large" ? 0x40013C44 : 0x40003A10);
    QCOMPARE(ramRequests(node), sent < 0 ? wire : QStringList(wire.mid(0, sent)));
    QCOMPARE(bool(device->bootLoader().lastStart()), error.isEmpty());
    if (!error.isEmpty())
        return;
    QTEST(progress.join(' '), "progress");
    for (const BootSection &s : sections)
        QCOMPARE(bytesOf(device->bootLoader().ram(s.address, size_t(s.data.size()))), s.data);
}

QTEST_GUILESS_MAIN(tst_BootShapes)
#include "tst_bootshapes.moc"
