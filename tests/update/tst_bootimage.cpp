#include "rig.h"

namespace {

const QString signature = "Error: failed to verify microcode signature";
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

QByteArray padded(const QByteArray &image, std::size_t size)
{
    return image + QByteArray(int(size) - image.size(), '\0');
}

} // namespace

// The sandbox boot image taken apart before anything goes to the device, from bytes and from a
// package member.
class tst_BootImage : public QObject
{
    Q_OBJECT

private slots:
    void parses_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("error"); // empty: accepted
        QTest::addColumn<QString>("image"); // as describe() gives it, when accepted

        const auto row = [](const char *name, const QByteArray &bytes, const QString &error,
                             const QString &image = QString()) {
            QTest::newRow(name) << bytes << error << image;
        };
        QByteArray longSection = good.left(4);
        appendWord(longSection, 0x80001);
        appendWord(longSection, 0x40000000);
        const QByteArray longest
            = bootImage({{0x40000000, QByteArray(int(fx3SectionBufferBytes), 'x')}}, 0x40000000);

        row("valid", good, {}, goodImage);
        row("start only", bootImage({}, 0x40000100), {}, "@40000100");
        row("trailing stray byte accepted", good + 'x', {}, goodImage);
        row("longest section", longest, {}, "40000000:2097152 @40000000");
        row("largest image", padded(good, fx3BootImageMaxBytes), {}, goodImage);
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
        row("oversized", padded(good, fx3BootImageMaxBytes + 1), tooLarge.arg(4194305));
    }

    void parses()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, error);
        Reports errors;
        Fx3BootImage image;
        image.entryPoint = 1; // a refused image leaves nothing behind
        const int rc = parseFx3BootImage(reinterpret_cast<const uint8_t *>(bytes.constData()),
            std::size_t(bytes.size()), image, errors.to());
        QCOMPARE(rc < 0, !error.isEmpty());
        QCOMPARE(errors, reported(error));
        QTEST(error.isEmpty() ? describe(image) : QString(), "image");
        if (!error.isEmpty())
            QCOMPARE(describe(image), QString("@0"));
        else if (describe(image) == goodImage)
            QCOMPARE(bytesOf(image.sections.back().data), patternBytes(12, 1) + "MARK");
    }

    void reads_data()
    {
        QTest::addColumn<QByteArray>("member"); // null: missing
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("error"); // empty: accepted

        const auto row = [](const char *name, const QByteArray &member, ZipPackage::Method method,
                             const QString &error = QString()) {
            QTest::newRow(name) << member << int(method) << error;
        };
        const QString cannotOpen = "Error: failed to open sandbox microcode: sandbox.img";
        row("stored", good, ZipPackage::Stored);
        row("deflated", good, ZipPackage::Deflated);
        row("missing", QByteArray(), ZipPackage::Stored, cannotOpen);
        row("encrypted", good, ZipPackage::Encrypted, cannotOpen);
        row("oversized", padded(good, fx3BootImageMaxBytes + 1), ZipPackage::Deflated,
            tooLarge.arg(4194305));
        // Patched after writing: the member's CRC no longer holds.
        row("damaged", good, ZipPackage::Stored,
            "Error: failed to read sandbox microcode: CRC error");
    }

    void reads()
    {
        QFETCH(QByteArray, member);
        QFETCH(int, method);
        QFETCH(QString, error);
        ZipPackage package;
        ZipArchive archive = openedWith(package, "sandbox.img", member,
            QByteArray(QTest::currentDataTag()) == "damaged", ZipPackage::Method(method));
        Reports errors;
        Fx3BootImage image;
        QCOMPARE(
            readFx3BootImage(archive, "sandbox.img", image, errors.to()) < 0, !error.isEmpty());
        QCOMPARE(errors, reported(error));
        QCOMPARE(describe(image), error.isEmpty() ? goodImage : QString("@0"));
    }
};

QTEST_GUILESS_MAIN(tst_BootImage)
#include "tst_bootimage.moc"
