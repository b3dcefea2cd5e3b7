#include "edidupload.h"
#include "fx3bootload.h"
#include "packagecheck.h"
#include "packagepreflight.h"
#include "productidentify.h"
#include "samplepackage.h"
#include "textimage.h"

#include <QTemporaryDir>
#include <QtTest>

#include <numeric>
#include <sstream>

namespace {

using Bytes = std::vector<uint8_t>;

// Empty when `image` is a whole FX3 boot image that loads into the FX3's 512 KiB of system RAM
// at 0x40000000 and starts there; otherwise what is wrong with it.
QString bootImageFault(const Bytes &image)
{
    const auto inRam
        = [](uint64_t from, uint64_t to) { return from >= 0x40000000 && to <= 0x40080000; };
    if (image.size() < 4 || image[0] != 'C' || image[1] != 'Y')
        return QStringLiteral("signature");
    std::size_t at = 4;
    const auto word = [&](uint32_t &value) {
        if (at + 4 > image.size())
            return false;
        value = qFromLittleEndian<uint32_t>(image.data() + at);
        at += 4;
        return true;
    };
    uint32_t sum = 0, words = 0, address = 0, value = 0;
    while (word(words) && word(address) && words != 0) {
        if (!inRam(address, address + uint64_t(words) * 4))
            return QStringLiteral("section outside RAM");
        for (uint32_t i = 0; i < words && word(value); ++i)
            sum += value;
    }
    if (words != 0 || !word(value))
        return QStringLiteral("truncated");
    if (!inRam(address, address + 4))
        return QStringLiteral("entry point outside RAM");
    return value != sum ? QStringLiteral("checksum") : at != image.size() ? "trailing bytes" : "";
}

// A sample package written to a temporary folder, read and checked as the update does before it
// sends anything to a device.
struct CheckedPackage {
    CheckedPackage(const std::string &product, SampleDefect defect)
    {
        std::string path, error;
        if (writeSamplePackage(dir.path().toStdString(), product, defect, path, error) != 0)
            qWarning("%s", error.c_str());
        archive = ZipArchive(path);
        checked = identifyProduct(archive, match, report) == 0
            ? checkPackageMembers(archive, *match.info, members, report)
            : -1;
    }

    Bytes member(const std::string &name)
    {
        ZipFile file = archive.openFile(name);
        Bytes bytes;
        uint8_t piece[4096];
        for (int64_t count; file.isOpen() && (count = file.read(piece, sizeof piece)) > 0;)
            bytes.insert(bytes.end(), piece, piece + count);
        return bytes;
    }

    QTemporaryDir dir;
    ZipArchive archive;
    QStringList errors;
    const ErrorReporter report = [this](const QString &text) { errors << text; };
    ProductMatch match;
    PackageMembers members;
    int checked = -1; // identifyProduct's result, then checkPackageMembers's
};

} // namespace

// The sample packages pass the update's own reader and checks, with the sizes that make the
// last flash chunks short; each broken one is refused where the update looks at that defect.
class tst_SamplePackages : public QObject
{
    Q_OBJECT

private slots:
    void goodPackage_data()
    {
        QTest::addColumn<QByteArray>("product");
        for (const auto &row : productTable)
            QTest::newRow(row.first.c_str()) << QByteArray::fromStdString(row.first);
    }

    void goodPackage()
    {
        QFETCH(QByteArray, product);
        CheckedPackage package(product.toStdString(), SampleDefect::None);
        QCOMPARE(package.checked, 0);
        QCOMPARE(package.errors, QStringList());
        QCOMPARE(QByteArray::fromStdString(package.match.name), product);
        const ProductInfo &info = *package.match.info;
        QVERIFY(!package.members.skipFirmware);
        QCOMPARE(package.members.updateEdid, !info.edidFile.empty());

        const std::size_t microcode = package.member(info.microcodeImage).size();
        const std::size_t fpga = package.member(info.fpgaImage).size();
        QVERIFY2(microcode % 4 == 0 && microcode % flashChunkSize != 0 && fpga > flashChunkSize
                && fpga % flashChunkSize != 0,
            qPrintable(QStringLiteral("%1, %2").arg(microcode).arg(fpga)));
        QCOMPARE(bootImageFault(package.member(info.sandboxImage)), QString());
        if (info.edidFile.empty())
            return;

        const Bytes text = package.member(info.edidFile);
        std::istringstream in(std::string(text.begin(), text.end()));
        const Bytes edid = parseTextImage(in).data;
        QCOMPARE(edid.size(), std::size_t(256));
        for (const long block : {0, 128})
            QCOMPARE(std::accumulate(edid.begin() + block, edid.begin() + block + 128, 0) % 256, 0);
        QCOMPARE(
            Bytes(edid.begin(), edid.begin() + 8), Bytes({0, 255, 255, 255, 255, 255, 255, 0}));
        QCOMPARE(edid[126], uint8_t(1)); // extension count
        // Preferred timing: 148.5 MHz, 1920 x 1080.
        QCOMPARE(QVector<int>({edid[54] | edid[55] << 8, edid[56] | (edid[58] & 0xF0) << 4,
                     edid[59] | (edid[61] & 0xF0) << 4}),
            QVector<int>({14850, 1920, 1080}));
        QCOMPARE(edid[128], uint8_t(0x02)); // CEA-861 extension
        // The data blocks end exactly where a detailed timing starts; the video block has VIC 16.
        std::size_t at = 132, video = 0;
        for (; at < 128u + edid[130]; at += 1 + (edid[at] & 0x1F))
            video = edid[at] >> 5 == 2 ? at : video;
        QCOMPARE(at, std::size_t(128 + edid[130]));
        QVERIFY(edid[at] | edid[at + 1]); // the timing's pixel clock
        const uint8_t *vics = edid.data() + video + 1;
        QVERIFY(video && std::count(vics, vics + (edid[video] & 0x1F), 0x90)); // VIC 16, native
    }

    void brokenPackage_data()
    {
        QTest::addColumn<QByteArray>("product");
        QTest::addColumn<QString>("error"); // empty: the update has no check before flashing

        // The row's name is the defect.
        QTest::newRow("microcode-unaligned") << QByteArray("kestrel3") << QString();
        QTest::newRow("missing-sandbox") << QByteArray(
            "legacy") << "Invalid firmware package. File(s) not found: usb-sandbox.img";
        QTest::newRow("bad-edid-checksum")
            << QByteArray("harrier3") << "EDID data has incorrect checksum";
        QTest::newRow("truncated-boot-image")
            << QByteArray("ospreyx3") << "Error: sandbox microcode image is truncated";
        // Refused by the update's pre-flight, before the device is opened.
        const QString read = "Error: failed to read FPGA image: ";
        QTest::newRow("fpga-damaged") << QByteArray("kestrel3") << read + "CRC error";
        QTest::newRow("fpga-deflate-broken")
            << QByteArray("kestrel3_4k") << read + "Zlib error: data error";
        QTest::newRow("fpga-short") << QByteArray("ospreyx3") << read + "Zip archive inconsistent";
        QTest::newRow("fpga-long") << QByteArray("legacy") << read + "Zip archive inconsistent";
        QTest::newRow("microcode-empty")
            << QByteArray("harrier3") << "Error: microcode image is empty";
        QTest::newRow("fpga-empty") << QByteArray("kestrel3") << "Error: FPGA image is empty";
        QTest::newRow("edid-too-large") << QByteArray("kestrel3")
                                        << "EDID data is too large to send: 4224 bytes; one USB "
                                           "control transfer carries at most 4096 bytes on this "
                                           "system";
    }

    void brokenPackage()
    {
        QFETCH(QByteArray, product);
        QFETCH(QString, error);
        SampleDefect defect = SampleDefect::None;
        QVERIFY(defectFromName(QTest::currentDataTag(), defect));
        CheckedPackage package(product.toStdString(), defect);
        QVERIFY(package.match.info);
        const ProductInfo &info = *package.match.info;
        // Both steps fail before their first transfer, so they need no device.
        const FlashContext context {nullptr, [](int) {}, package.report, flashReadyTimeout};
        switch (defect) {
        case SampleDefect::MicrocodeUnaligned:
            QCOMPARE(package.member(info.microcodeImage).size() % 4, std::size_t(2));
            return;
        case SampleDefect::MissingSandbox:
            QCOMPARE(package.checked, -1);
            break;
        case SampleDefect::BadEdidChecksum:
            QCOMPARE(uploadEdid(context, 0, 100, info.edidFile, package.archive), -1);
            break;
        case SampleDefect::TruncatedBootImage:
            QCOMPARE(bootImageFault(package.member(info.sandboxImage)), "truncated");
            QCOMPARE(loadFx3BootImage(context, info.sandboxImage, package.archive), -1);
            break;
        case SampleDefect::None:
            QFAIL("no defect");
        default: {
            PreparedPackage prepared;
            QCOMPARE(package.checked, 0);
            QCOMPARE(preflightPackage(
                         package.archive, info, package.members, true, prepared, package.report),
                -1);
            break;
        }
        }
        QCOMPARE(package.errors, QStringList {error});
    }
};

QTEST_GUILESS_MAIN(tst_SamplePackages)
#include "tst_samplepackages.moc"
