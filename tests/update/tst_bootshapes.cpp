#include "bootimage.h"
#include "bustestcase.h"
#include "bytes.h"
#include "deviceopen.h"
#include "fx3bootload.h"
#include "norbydevice.h"
#include "zippackage.h"

#include <QtTest>

using namespace testsupport;

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

// The boot loader's requests, as W(rite)/R(ead-back) address:length and S(tart) address.
QStringList ramRequests(vusb::NodeId node)
{
    QStringList out;
    for (const vusb::TransferRecord &t : vusb::Bus::instance().transfers(node)) {
        const uint32_t address = uint32_t(t.index) << 16 | t.value;
        out << (t.requestType == 0xC0 ? "R"
                       : t.length     ? "W"
                                      : "S")
                + QString::number(address, 16)
                + (t.length ? ':' + QString::number(t.length) : QString());
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
    QTest::addColumn<bool>("started");

    const QByteArray smallImage = bootImage(small, 0x40003A10);
    QTest::newRow("two sections") << smallImage << true;
    QTest::newRow("five sections, split region, second stage")
        << bootImage(large, 0x40013C44, 0, 0x0E) << true;
    // The boot ROM stops at the checksum word; what follows is padding of the tool that wrote it.
    QTest::newRow("stray byte after the checksum") << smallImage + 'x' << true;
    QTest::newRow("truncated in the last section") << smallImage.left(40000) << false;
    QTest::newRow("truncated in the checksum") << smallImage.chopped(2) << false;
    QTest::newRow("checksum off by one") << bootImage(small, 0x40003A10, 1) << false;
    QByteArray oversized = smallImage.left(4);
    appendWord(oversized, (fx3SectionBufferBytes / 4) + 1);
    appendWord(oversized, 0x40003000);
    QTest::newRow("oversized section")
        << oversized + QByteArray(int(fx3SectionBufferBytes) + 8, 0) << false;
}

void tst_BootShapes::downloads()
{
    QFETCH(QByteArray, image);
    QFETCH(bool, started);

    ZipPackage package;
    package.add("sandbox.img", image);
    ZipArchive archive(package.write().toStdString());
    const auto device = vdev::NorbyDevice::make(0x3600, vdev::NorbyState::SoftRepair);
    const vusb::NodeId node = vusb::Bus::instance().plug(Topology::build().hub, 1, device);
    QStringList errors;
    {
        OpenedDevice opened = OpenedDevice::open(describe(node));
        QVERIFY(opened);
        const FlashContext context {
            opened.handle(), [](int) {}, [&](const QString &text) { errors << text; }};
        QCOMPARE(loadFx3BootImage(context, "sandbox.img", archive) == 0, started);
    }
    QCOMPARE(errors.size(), started ? 0 : 1);
    const QStringList sent = ramRequests(node);
    // A refused image is never started, whatever was sent before it was refused.
    QCOMPARE(bool(device->bootLoader().lastStart()), started);
    if (!started) {
        QVERIFY(sent.filter("S").isEmpty());
        return;
    }
    const std::vector<BootSection> &sections = image.size() > 100000 ? large : small;
    const uint32_t entry = image.size() > 100000 ? 0x40013C44 : 0x40003A10;
    QCOMPARE(sent, expectedWire(sections, entry));
    for (const BootSection &s : sections)
        QCOMPARE(bytesOf(device->bootLoader().ram(s.address, size_t(s.data.size()))), s.data);
}

QTEST_GUILESS_MAIN(tst_BootShapes)
#include "tst_bootshapes.moc"
