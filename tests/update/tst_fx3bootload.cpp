#include "bootimage.h"
#include "bustestcase.h"
#include "deviceopen.h"
#include "fx3bootload.h"
#include "norbydevice.h"
#include "zippackage.h"

#include <QtTest>

using namespace testsupport;

namespace {

constexpr uint32_t entryPoint = 0x40003A10;
constexpr uint32_t loadAddress = 0x40000000;
const char member[] = "sandbox.img";

// A soft-repair device, a package with `image` as the sandbox (none when null) and what the
// download reports.
struct Rig {
    ZipPackage package;
    std::shared_ptr<vdev::NorbyDevice> device
        = vdev::NorbyDevice::make(0x3600, vdev::NorbyState::SoftRepair);
    vusb::NodeId node = vusb::Bus::instance().plug(Topology::build().hub, 1, device);
    QList<int> progress;
    QStringList errors;

    int load(const QByteArray &image)
    {
        if (!image.isNull())
            package.add(member, image);
        ZipArchive archive(package.write().toStdString());
        OpenedDevice opened = OpenedDevice::open(describe(node));
        FlashContext context {opened.handle(), [this](int p) { progress << p; },
            [this](const QString &text) { errors << text; }};
        return loadFx3BootImage(context, member, archive);
    }

    // The RAM requests as W(rite), R(ead-back) or S(tart), address and length; "!" marks one
    // off the conventions (vendor type, device recipient, 1 s timeout).
    QStringList wire() const
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
};

} // namespace

class tst_Fx3BootLoad : public testsupport::BusTestCase
{
    Q_OBJECT

private slots:
    void downloadsChunkByChunkAndStarts()
    {
        const QByteArray code = patternBytes(10000);
        Rig rig;
        QCOMPARE(rig.load(bootImage({{loadAddress, code}}, entryPoint)), 0);
        QCOMPARE(rig.errors, QStringList());
        QCOMPARE(rig.progress, QList<int> {2 + 10000 * 13 / 10024});
        QCOMPARE(rig.wire().join(' '),
            "W40000000:4096 R40000000:4096 W40001000:4096 R40001000:4096 W40002000:1808 "
            "R40002000:1808 S40003a10");
        const std::vector<uint8_t> ram = rig.device->bootLoader().ram(loadAddress, 10000);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(ram.data()), 10000), code);
    }

    void startsAnImageWithoutSections()
    {
        Rig rig;
        QCOMPARE(rig.load(bootImage({}, entryPoint)), 0);
        QCOMPARE(rig.wire(), QStringList {"S40003a10"});
        QCOMPARE(rig.progress, QList<int>());
    }

    void refuses_data()
    {
        QTest::addColumn<QByteArray>("image"); // null: the member is missing
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("requests"); // RAM requests sent; never a start

        const QByteArray good = bootImage({{loadAddress, patternBytes(10000)}}, entryPoint);
        const QString truncated = "Error: sandbox microcode image is truncated";
        const QString badSignature = "Error: failed to verify microcode signature";
        QByteArray huge = good.left(4);
        appendWord(huge, 0x80001);
        appendWord(huge, loadAddress);
        huge += QByteArray(0x200004, 'x');
        QTest::newRow("no member") << QByteArray() << ""
                                   << "Error: failed to open sandbox microcode: sandbox.img" << 0;
        QTest::newRow("bad signature") << "CX" + good.mid(2) << "" << badSignature << 0;
        QTest::newRow("one byte") << QByteArray("C") << "" << badSignature << 0;
        QTest::newRow("ends in the image header") << good.left(3) << "" << truncated << 0;
        QTest::newRow("ends in a section header") << good.left(10) << "" << truncated << 0;
        QTest::newRow("ends in section data") << good.left(12 + 9999) << "" << truncated << 0;
        QTest::newRow("ends in the checksum") << good.chopped(1) << "" << truncated << 6;
        QTest::newRow("section beyond the buffer")
            << huge << ""
            << "Error: microcode section at 0x40000000 is too long: 2097156 bytes, at most 2097152"
            << 0;
        QTest::newRow("bad checksum")
            << bootImage({{loadAddress, patternBytes(10000)}}, entryPoint, 1) << ""
            << "FX3 checksum error" << 6;
        QTest::newRow("read-back differs") << good << "corrupt"
                                           << "Fail to verify image" << 4;
        // Occurrences of 0xA0 count writes and read-backs alike.
        QTest::newRow("second write fails")
            << good << "3"
            << "Error: failed to write microcode: LIBUSB_ERROR_PIPE" << 3;
        QTest::newRow("second read-back fails")
            << good << "4"
            << "Error: failed to write microcode: LIBUSB_ERROR_PIPE" << 4;
        QTest::newRow("start fails") << good << "7"
                                     << "Error: failed to start microcode: LIBUSB_ERROR_PIPE" << 7;
    }

    void refuses()
    {
        QFETCH(QByteArray, image);
        QFETCH(QString, fault);
        QFETCH(QString, error);
        QFETCH(int, requests);
        Rig rig;
        if (fault == "corrupt")
            rig.device->bootLoader().corruptReadBackAt(loadAddress + 5000);
        else if (!fault.isEmpty())
            vusb::Bus::instance().failRequest(rig.node, {0xA0, fault.toInt(), 1, vdev::Pipe});
        QVERIFY(rig.load(image) < 0);
        QCOMPARE(rig.errors, QStringList {error});
        QCOMPARE(rig.wire().size(), requests);
        QVERIFY(!rig.device->bootLoader().lastStart());
    }
};

QTEST_GUILESS_MAIN(tst_Fx3BootLoad)
#include "tst_fx3bootload.moc"
