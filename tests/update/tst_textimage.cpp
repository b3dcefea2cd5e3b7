#include "rig.h"

#include <sstream>

namespace {

using Bytes = std::vector<uint8_t>;

// `text` with data line `line` (0-based, after the header) passed through `edit`.
template<typename Edit> QByteArray editLine(const QByteArray &text, int line, Edit edit)
{
    QList<QByteArray> lines = text.split('\n');
    lines[line + 3] = edit(lines[line + 3]);
    return lines.join('\n');
}

// The parser's result as "<status> <hex data> <diagnostics>".
QString parse(const QByteArray &text)
{
    std::istringstream in(text.toStdString());
    LogCapture log;
    const TextImage image = parseTextImage(in);
    return QString::number(image.status) + ' ' + bytesOf(image.data).toHex() + ' '
        + QString::fromStdString(log.errors());
}

// What the parser gives for `data` or, with status 1 (format) or 2 (checksum), for a refusal:
// no data, one diagnostic line.
QString result(int status, const Bytes &data, const QString &diagnostic = {})
{
    return QString::number(status) + ' ' + bytesOf(data).toHex() + ' '
        + (diagnostic.isEmpty() ? diagnostic : diagnostic + '\n');
}

QString checksum(int block, int expected, int stored)
{
    return result(2, {},
        QStringLiteral("Checksum of the block %1 mismatch, expected: 0x%2, readed: 0x%3")
            .arg(block)
            .arg(expected, 0, 16)
            .arg(stored, 0, 16));
}

} // namespace

class tst_TextImage : public QObject
{
    Q_OBJECT

private slots:
    void parses_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("result");

        const Bytes one = makeEdid(1), two = makeEdid(2, 0x5A);
        const QByteArray oneText = edidText(one), twoText = edidText(two);
        QTest::newRow("two blocks, CR LF")
            << QByteArray(twoText).replace("\n", "\r\n") << result(0, two);
        QTest::newRow("no final newline") << twoText.chopped(1) << result(0, two);
        QTest::newRow("header of numbers")
            << "0 | 1 2 3 4 5 6 7 8 9 A B C D E F 10\n\n\n" + twoText.mid(twoText.indexOf("0000 |"))
            << result(0, two);
        // 0x prefixes, tabs, wide values of which the low eight bits count, a comment column.
        Bytes wide = one;
        wide[0] = 0xFF;
        wide[1] = 0x00;
        sealEdidBlocks(wide);
        const QByteArray wideText = editLine(edidText(wide), 0,
            [](QByteArray line) { return line.replace(" FF 00 ", "\t0x1ff\t0XFFFFFF00 ") + "|x"; });
        QTest::newRow("0x1ff") << editLine(wideText, 1, [](QByteArray l) { return l + " | y"; })
                               << result(0, wide);
        const Bytes largest = makeEdid(256, 3);
        QTest::newRow("256 blocks") << edidText(largest) << result(0, largest);
        const int padding = int(textImageMaxTextSize) - oneText.size();
        QTest::newRow("1 MiB of text") << QByteArray(padding, 'h') + oneText << result(0, one);

        const QString count = "Unexpected lines count: %1, should be dividable by 8";
        QTest::newRow("empty") << QByteArray() << result(1, {}, count.arg(0));
        QTest::newRow("12 lines") << edidText(Bytes(192, 0)) << result(1, {}, count.arg(12));

        const auto edited = [&](int line, QByteArray (*edit)(QByteArray)) {
            return editLine(twoText, line, edit);
        };
        const QString noBar = "Error: vertical delimiter (|) not found, line: %1";
        QTest::newRow("no bar") << edited(0, [](QByteArray) { return QByteArray("0000 00 01"); })
                                << result(1, {}, noBar.arg(4));
        QTest::newRow("blank line at the end") << twoText + "\n" << result(1, {}, noBar.arg(20));
        QTest::newRow("17 values") << edited(1, [](QByteArray l) { return l + " 0xAB"; })
                                   << result(1, {}, "Error: line overflow, line 5");
        const QString under = "Error: line underflow, line: %1";
        QTest::newRow("15 values")
            << edited(0, [](QByteArray l) { return l.chopped(3); }) << result(1, {}, under.arg(4));
        // Reading stops at the first token that is no number, although values follow it.
        QTest::newRow("text among the values")
            << edited(5, [](QByteArray l) { return l.insert(l.size() - 9, " zz"); })
            << result(1, {}, under.arg(9));
        QTest::newRow("value over 32 bits")
            << edited(6, [](QByteArray l) { return l.chopped(3) + " 100000000"; })
            << result(1, {}, under.arg(10));

        // One bad block in place: the real EDIDs' faults below.
        Bytes both = two;
        both[127] += 1;
        both[255] += 1;
        QTest::newRow("both blocks bad, the first named")
            << edidText(both) << checksum(0, two[127], both[127]);

        // Bounds on what a package can make the parser read and return.
        QTest::newRow("257 blocks")
            << edidText(makeEdid(257)) << result(1, {}, "Error: too many lines, line: 2052");
        QTest::newRow("1 MiB + 1") << QByteArray(padding + 1, 'h') + oneText
                                   << result(1, {}, "Error: text too long, line: 11");
        QTest::newRow("long header") << QByteArray(int(textImageMaxTextSize) + 1, 'h') + "\n"
                + oneText << result(1, {}, "Error: text too long, line: 1");
    }

    void parses()
    {
        QFETCH(QByteArray, text);
        QTEST(parse(text), "result");
    }

    void realEdids_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("fault"); // the refusal of a faulty one
        const QDir folder(qEnvironmentVariable("LUMEXOR_TESTDATA") + "/edid");
        const QStringList files = folder.entryList({"*.bin"}, QDir::Files, QDir::Name);
        if (files.isEmpty())
            QSKIP(qPrintable("no real EDIDs in " + folder.path() + " (set LUMEXOR_TESTDATA)"));
        // The real faults of the collection; any other faulty file is unknown and fails.
        const QMap<QString, QString> faults {
            {"bad_b2_cea_cksum_aoc_AOC2510.bin", checksum(1, 0xae, 0xa1)},
            {"bad_b2_ext_erased_achieva_ACB049B.bin", checksum(1, 0x7f, 0xff)},
            {"bad_b3_cksum_gigabyte_GBT2706.bin", checksum(2, 0x70, 0)}};
        for (const QString &file : files)
            QTest::newRow(qPrintable(file)) << folder.filePath(file) << faults.value(file);
    }

    // Every real EDID survives the trip through its text form; the faulty ones are refused,
    // naming the block that is wrong; any one byte changed in a good one fails its block.
    void realEdids()
    {
        QFETCH(QString, path);
        QFETCH(QString, fault);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const Bytes edid(bytes.begin(), bytes.end());
        QVERIFY2(!fault.isEmpty() || !QFileInfo(path).fileName().startsWith("bad_"),
            "unknown faulty EDID");
        QCOMPARE(parse(edidText(edid)), fault.isEmpty() ? result(0, edid) : fault);
        if (!fault.isEmpty())
            return;

        for (std::size_t i = 0; i < edid.size(); ++i) {
            Bytes damaged = edid;
            damaged[i] = uint8_t(damaged[i] + 1 + i % 255);
            const QString result = parse(edidText(damaged));
            const QString prefix = "2  Checksum of the block " + QString::number(i / 128) + " ";
            if (!result.startsWith(prefix))
                QFAIL(qPrintable(QStringLiteral("byte %1: %2").arg(i).arg(result)));
        }
    }
};

QTEST_GUILESS_MAIN(tst_TextImage)
#include "tst_textimage.moc"
