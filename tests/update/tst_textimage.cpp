#include "edidtext.h"
#include "logcapture.h"
#include "textimage.h"

#include <QDir>
#include <QtTest>

#include <sstream>

using testsupport::edidText;
using testsupport::makeEdid;
using testsupport::sealEdidBlocks;

namespace {

using Bytes = std::vector<uint8_t>;

QByteArray text(const Bytes &bytes)
{
    return QByteArray::fromStdString(edidText(bytes));
}

QByteArray array(const Bytes &bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size()));
}

// `text` with data line `line` (0-based, after the header) passed through `edit`.
template<typename Edit> QByteArray editLine(const QByteArray &text, int line, Edit edit)
{
    QList<QByteArray> lines = text.split('\n');
    lines[line + 3] = edit(lines[line + 3]);
    return lines.join('\n');
}

// A block of zeros but for its first byte and its checksum byte.
Bytes block(uint8_t first, uint8_t checksum, Bytes before = {})
{
    before.resize(before.size() + 128);
    *(before.end() - 128) = first;
    before.back() = checksum;
    return before;
}

struct Parsed {
    TextImage image;
    std::string diagnostics;
};

Parsed parse(const QByteArray &text)
{
    std::istringstream in(text.toStdString());
    testsupport::LogCapture log;
    Parsed parsed {parseTextImage(in), {}};
    parsed.diagnostics = log.errors();
    return parsed;
}

// The real faults of the collection: the block whose checksum is wrong, the checksum it
// should have, the one it has.
struct KnownFault {
    const char *file;
    int block;
    const char *expected;
    const char *stored;
};
const KnownFault knownFaults[] = {
    {"bad_b2_cea_cksum_aoc_AOC2510.bin", 1, "ae", "a1"},
    {"bad_b2_ext_erased_achieva_ACB049B.bin", 1, "7f", "ff"},
    {"bad_b3_cksum_gigabyte_GBT2706.bin", 2, "70", "0"},
};

const KnownFault *knownFault(const QString &path)
{
    for (const KnownFault &fault : knownFaults)
        if (QFileInfo(path).fileName() == QLatin1String(fault.file))
            return &fault;
    return nullptr;
}

const QString checksumMessage
    = QStringLiteral("Checksum of the block %1 mismatch, expected: 0x%2, readed: 0x%3");

} // namespace

class tst_TextImage : public QObject
{
    Q_OBJECT

private slots:
    void parses_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("data"); // empty: status 1 or 2 with the diagnostic
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("diagnostic");

        const Bytes one = makeEdid(1), two = makeEdid(2, 0x5A);
        const QByteArray oneText = text(one), twoText = text(two);
        QTest::newRow("one block") << oneText << array(one) << 0 << "";
        QTest::newRow("two blocks, CR LF")
            << QByteArray(twoText).replace("\n", "\r\n") << array(two) << 0 << "";
        QTest::newRow("no final newline") << twoText.chopped(1) << array(two) << 0 << "";
        QTest::newRow("header of numbers")
            << "0 | 1 2 3 4 5 6 7 8 9 A B C D E F 10\n\n\n" + twoText.mid(twoText.indexOf("0000 |"))
            << array(two) << 0 << "";
        // 0x prefixes, tabs, wide values of which the low eight bits count, a comment column.
        Bytes wide = one;
        wide[0] = 0xFF;
        wide[1] = 0x00;
        sealEdidBlocks(wide);
        const QByteArray wideText = editLine(text(wide), 0,
            [](QByteArray line) { return line.replace(" FF 00 ", "\t0x1ff\t0XFFFFFF00 ") + "|x"; });
        QTest::newRow("0x1ff") << editLine(wideText, 1, [](QByteArray l) { return l + " | y"; })
                               << array(wide) << 0 << "";
        const Bytes largest = makeEdid(256, 3);
        QTest::newRow("256 blocks") << text(largest) << array(largest) << 0 << "";
        const int padding = int(textImageMaxTextSize) - oneText.size();
        QTest::newRow("1 MiB of text")
            << QByteArray(padding, 'h') + oneText << array(one) << 0 << "";

        const QString count
            = QStringLiteral("Unexpected lines count: %1, should be dividable by 8");
        const QByteArray none;
        QTest::newRow("empty") << QByteArray() << none << 1 << count.arg(0);
        QTest::newRow("two lines") << QByteArray("a\nb") << none << 1 << count.arg(0);
        QTest::newRow("header only") << QByteArray("a|\nb\nc\n") << none << 1 << count.arg(0);
        QTest::newRow("12 lines") << text(Bytes(192, 0)) << none << 1 << count.arg(12);

        const QString noBar = QStringLiteral("Error: vertical delimiter (|) not found, line: %1");
        const auto withLine = [&](int line, const QByteArray &replacement) {
            return editLine(twoText, line, [&](const QByteArray &) { return replacement; });
        };
        QTest::newRow("no bar") << withLine(0, "0000 00 01") << none << 1 << noBar.arg(4);
        QTest::newRow("empty data line") << withLine(3, "") << none << 1 << noBar.arg(7);
        QTest::newRow("blank line at the end") << twoText + "\n" << none << 1 << noBar.arg(20);

        const auto appended = [&](int line, const QByteArray &tail) {
            return editLine(twoText, line, [&](const QByteArray &l) { return l + tail; });
        };
        const QString over = QStringLiteral("Error: line overflow, line %1");
        QTest::newRow("17 values") << appended(1, " AB") << none << 1 << over.arg(5);
        QTest::newRow("17 values, 0x") << appended(9, " 0x0") << none << 1 << over.arg(13);
        const QString under = QStringLiteral("Error: line underflow, line: %1");
        QTest::newRow("15 values")
            << editLine(twoText, 0, [](QByteArray l) { return l.chopped(3); }) << none << 1
            << under.arg(4);
        QTest::newRow("nothing after the bar")
            << withLine(4, "0040 |") << none << 1 << under.arg(8);
        // Reading stops at the first token that is no number, although values follow it.
        QTest::newRow("text among the values")
            << editLine(twoText, 5, [](QByteArray l) { return l.insert(l.size() - 9, " zz"); })
            << none << 1 << under.arg(9);
        QTest::newRow("value over 32 bits")
            << editLine(twoText, 6, [](QByteArray l) { return l.chopped(3) + " 100000000"; })
            << none << 1 << under.arg(10);
        QTest::newRow("negative value")
            << editLine(twoText, 7, [](QByteArray l) { return l.chopped(3) + " -1"; }) << none << 1
            << under.arg(11);

        QTest::newRow("block 0") << text(block(0x10, 0x00)) << none << 2
                                 << checksumMessage.arg(0).arg("f0", "0");
        QTest::newRow("block 0, 0 expected")
            << text(block(0x00, 0xAB)) << none << 2 << checksumMessage.arg(0).arg("0", "ab");
        QTest::newRow("block 1 of 2") << text(block(0x02, 0x0F, block(0x01, 0xFF))) << none << 2
                                      << checksumMessage.arg(1).arg("fe", "f");
        QTest::newRow("both blocks bad") << text(block(0x02, 0x0F, block(0x01, 0x01))) << none << 2
                                         << checksumMessage.arg(0).arg("ff", "1");

        // Bounds on what a package can make the parser read and return.
        QTest::newRow("257 blocks")
            << text(makeEdid(257)) << none << 1 << "Error: too many lines, line: 2052";
        QTest::newRow("1 MiB + 1") << QByteArray(padding + 1, 'h') + oneText << none << 1
                                   << "Error: text too long, line: 11";
        QTest::newRow("long header")
            << QByteArray(int(textImageMaxTextSize) + 1, 'h') + "\n" + oneText << none << 1
            << "Error: text too long, line: 1";
    }

    void parses()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, data);
        QFETCH(int, status);
        QFETCH(QString, diagnostic);
        const Parsed parsed = parse(text);
        QCOMPARE(QString::fromStdString(parsed.diagnostics),
            diagnostic.isEmpty() ? QString() : diagnostic + "\n");
        QCOMPARE(parsed.image.status, int32_t(status));
        QCOMPARE(array(parsed.image.data), data);
    }

    void realEdids_data()
    {
        QTest::addColumn<QString>("path");
        const QDir folder(qEnvironmentVariable("LUMEXOR_TESTDATA") + "/edid");
        const QStringList files = folder.entryList({"*.bin"}, QDir::Files, QDir::Name);
        if (files.isEmpty())
            QSKIP(qPrintable("no real EDIDs in " + folder.path() + " (set LUMEXOR_TESTDATA)"));
        for (const QString &file : files)
            QTest::newRow(qPrintable(file)) << folder.filePath(file);
    }

    // Every real EDID survives the trip through its text form; the faulty ones are refused,
    // naming the block that is wrong; any one byte changed in a good one fails its block.
    void realEdids()
    {
        QFETCH(QString, path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const Bytes edid(bytes.begin(), bytes.end());
        const KnownFault *fault = knownFault(path);
        QVERIFY2(fault || !QFileInfo(path).fileName().startsWith("bad_"), "unknown faulty EDID");

        const Parsed parsed = parse(text(edid));
        if (fault) {
            QCOMPARE(QString::fromStdString(parsed.diagnostics),
                checksumMessage.arg(fault->block).arg(fault->expected, fault->stored) + "\n");
            QCOMPARE(parsed.image.status, int32_t(TextImage::ChecksumError));
            QVERIFY(parsed.image.data.empty());
            return;
        }
        QCOMPARE(parsed.diagnostics, std::string());
        QCOMPARE(array(parsed.image.data), bytes);

        for (std::size_t i = 0; i < edid.size(); ++i) {
            Bytes damaged = edid;
            damaged[i] = uint8_t(damaged[i] + 1 + i % 255);
            const Parsed result = parse(text(damaged));
            const std::string prefix = "Checksum of the block " + std::to_string(i / 128) + " ";
            if (result.image.status != TextImage::ChecksumError
                || result.diagnostics.compare(0, prefix.size(), prefix) != 0)
                QFAIL(qPrintable(
                    QStringLiteral("byte %1: %2").arg(i).arg(result.diagnostics.c_str())));
        }
    }
};

QTEST_GUILESS_MAIN(tst_TextImage)
#include "tst_textimage.moc"
