#include "flashcontext.h"
#include "packagecheck.h"
#include "packagepreflight.h"
#include "productidentify.h"
#include "samplepackage.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

using Bytes = std::vector<uint8_t>;

// A sample package written to a temporary folder, read and checked as the update does before it
// sends anything to a device: its members, then each image read in full (a repair's too).
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
        if (checked == 0)
            preflight = preflightPackage(archive, *match.info, members, true, prepared, report);
    }

    QTemporaryDir dir;
    ZipArchive archive;
    QStringList errors;
    const ErrorReporter report = [this](const QString &text) { errors << text; };
    ProductMatch match;
    PackageMembers members;
    PreparedPackage prepared;
    int checked = -1; // identifyProduct's result, then checkPackageMembers's
    int preflight = -1;
};

} // namespace

// The sample packages pass the update's own reader and checks, with the sizes that make the
// last flash chunks short; each broken one is refused with its own text before a device is opened.
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
        QCOMPARE(package.preflight, 0);
        QCOMPARE(package.errors, QStringList());
        QCOMPARE(QByteArray::fromStdString(package.match.name), product);
        const ProductInfo &info = *package.match.info;
        QVERIFY(!package.members.skipFirmware);
        QCOMPARE(package.members.updateEdid, !info.edidFile.empty());

        const uint64_t microcode = package.archive.stat(info.microcodeImage).size;
        const uint64_t fpga = package.archive.stat(info.fpgaImage).size;
        QVERIFY2(microcode % 4 == 0 && microcode % flashChunkSize != 0 && fpga > flashChunkSize
                && fpga % flashChunkSize != 0,
            qPrintable(QStringLiteral("%1, %2").arg(microcode).arg(fpga)));
        // The sandbox loads into the FX3's 512 KiB of system RAM at 0x40000000 and starts there.
        const auto inRam
            = [](uint64_t from, uint64_t to) { return from >= 0x40000000 && to <= 0x40080000; };
        const Fx3BootImage &sandbox = package.prepared.sandbox;
        QVERIFY(!sandbox.sections.empty() && inRam(sandbox.entryPoint, sandbox.entryPoint + 4));
        for (const Fx3BootSection &section : sandbox.sections)
            QVERIFY(inRam(section.address, section.address + section.data.size()));
        if (info.edidFile.empty())
            return;

        // Two blocks (their checksums held, or the pre-flight would have refused them).
        const Bytes &edid = package.prepared.edid;
        QCOMPARE(edid.size(), std::size_t(256));
        QCOMPARE(
            Bytes(edid.begin(), edid.begin() + 8), Bytes({0, 255, 255, 255, 255, 255, 255, 0}));
        QCOMPARE(edid[126], uint8_t(1)); // extension count
        QCOMPARE(edid[128], uint8_t(0x02)); // CEA-861 extension
    }

    void brokenPackage_data()
    {
        QTest::addColumn<QByteArray>("product");
        QTest::addColumn<QString>("error");

        // The row's name is the defect.
        QTest::newRow("microcode-unaligned")
            << QByteArray("kestrel3")
            << "Error: microcode block does not aligned by 32 bit length: 1434"; // 2 bytes over
        QTest::newRow("missing-sandbox") << QByteArray(
            "legacy") << "Invalid firmware package. File(s) not found: usb-sandbox.img";
        QTest::newRow("bad-edid-checksum")
            << QByteArray("harrier3") << "EDID data has incorrect checksum";
        QTest::newRow("truncated-boot-image")
            << QByteArray("ospreyx3") << "Error: sandbox microcode image is truncated";
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
        // A member left out is refused with the members, anything else by the pre-flight.
        QCOMPARE(package.checked, defect == SampleDefect::MissingSandbox ? -1 : 0);
        QCOMPARE(package.preflight, -1);
        QCOMPARE(package.errors, QStringList {error});
    }
};

QTEST_GUILESS_MAIN(tst_SamplePackages)
#include "tst_samplepackages.moc"
