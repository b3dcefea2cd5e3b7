#include "logcapture.h"
#include "productidentify.h"
#include "zippackage.h"

#include <QtTest>

using testsupport::LogCapture;
using testsupport::patchFile;
using testsupport::ZipPackage;

class tst_ProductIdentify : public QObject
{
    Q_OBJECT

private slots:
    void identifies_data()
    {
        QTest::addColumn<QByteArray>("info"); // "none": no product.info
        QTest::addColumn<int>("method");
        QTest::addColumn<QByteArray>("id");
        QTest::addColumn<QString>("error"); // empty: supported

        const int stored = ZipPackage::Stored;
        const QString unsupported = QStringLiteral("Unsupported product: '%1'");
        QTest::newRow("legacy") << QByteArray("none") << stored << QByteArray("legacy") << "";
        QTest::newRow("line feed")
            << QByteArray("ospreyx3\n") << stored << QByteArray("ospreyx3") << "";
        QTest::newRow("deflated, no line feed")
            << QByteArray("harrier3") << int(ZipPackage::Deflated) << QByteArray("harrier3") << "";
        QTest::newRow("more lines")
            << QByteArray("kestrel3_4k\nv2\n") << stored << QByteArray("kestrel3_4k") << "";
        // A NUL ends the text of its piece.
        QTest::newRow("NUL") << QByteArray("kestrel3\0junk\n", 14) << stored
                             << QByteArray("kestrel3") << "";
        QTest::newRow("CR LF") << QByteArray("ospreyx3\r\n") << stored << QByteArray("ospreyx3\r")
                               << unsupported.arg("ospreyx3\r");
        QTest::newRow("empty") << QByteArray("") << stored << QByteArray() << unsupported.arg("");
        QTest::newRow("case") << QByteArray("Kestrel3") << stored << QByteArray("Kestrel3")
                              << unsupported.arg("Kestrel3");
        const QByteArray longId = "kestrel3_4k-with-a-much-longer-name";
        QTest::newRow("long, no line feed")
            << longId << stored << longId << unsupported.arg(QString(longId));
        QTest::newRow("long, line feed in a later piece")
            << longId + "\nospreyx3" << stored << longId << unsupported.arg(QString(longId));
        QTest::newRow("at the bound") << QByteArray(4096, 'a') << stored << QByteArray(4096, 'a')
                                      << unsupported.arg(QString(4096, 'a'));
        QTest::newRow("past the bound")
            << QByteArray(5000, 'a') + "\nkestrel3" << stored << QByteArray(4096, 'a')
            << unsupported.arg(QString(4096, 'a'));
        QTest::newRow("NULs past the bound")
            << QByteArray(8 << 20, '\0') << int(ZipPackage::Deflated) << QByteArray()
            << unsupported.arg("");
    }

    void identifies()
    {
        QFETCH(QByteArray, info);
        QFETCH(int, method);
        QFETCH(QByteArray, id);
        QFETCH(QString, error);

        ZipPackage package;
        package.add("kestrel3.bin", "fpga");
        if (info != "none")
            package.add("product.info", info, ZipPackage::Method(method));
        ZipArchive archive(package.write().toStdString());
        ProductMatch match;
        QStringList errors;
        LogCapture log;
        const int result = identifyProduct(archive, match, [&](const QString &t) { errors << t; });

        QCOMPARE(QByteArray::fromStdString(match.name), id);
        QCOMPARE(log.debug(), QStringList {"Deal with product: " + QString::fromLatin1(id)});
        QCOMPARE(result, error.isEmpty() ? 0 : -1);
        QCOMPARE(errors, error.isEmpty() ? QStringList() : QStringList {error});
        QCOMPARE(match.info, error.isEmpty() ? &productTable.at(id.toStdString()) : nullptr);
    }

    void damagedMember_data()
    {
        QTest::addColumn<QByteArray>("info");
        QTest::addColumn<bool>("encrypted");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("logged");
        QTest::newRow("cannot open") << QByteArray("kestrel3\n") << true
                                     << "Product info file found but can't be opened: "
                                        "No password provided"
                                     << true;
        // Two full pieces reach the end of the member, where the CRC is checked.
        QTest::newRow("cannot read") << QByteArray("kestrel3-MARK-and-sixteen-more") << false
                                     << "Can't read Product info file: CRC error" << true;
        // Reading stops at the bound, before the damage.
        QTest::newRow("damage past the bound")
            << QByteArray(6000, 'a') + "MARK" << false
            << "Unsupported product: '" + QString(4096, 'a') + "'" << false;
    }

    void damagedMember()
    {
        QFETCH(QByteArray, info);
        QFETCH(bool, encrypted);
        QFETCH(QString, error);
        QFETCH(bool, logged);

        ZipPackage package;
        package.add("product.info", info, encrypted ? ZipPackage::Encrypted : ZipPackage::Stored);
        const QString path = package.write();
        QVERIFY(encrypted || patchFile(path, "MARK", "MARX"));
        ZipArchive archive(path.toStdString());
        ProductMatch match;
        QStringList errors;
        LogCapture log;
        QCOMPARE(identifyProduct(archive, match, [&](const QString &t) { errors << t; }), -1);
        QCOMPARE(errors, QStringList {error});
        QCOMPARE(log.debug().value(0) == error, logged);
        QCOMPARE(match.info, nullptr);
    }
};

QTEST_GUILESS_MAIN(tst_ProductIdentify)
#include "tst_productidentify.moc"
