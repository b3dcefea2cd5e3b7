#include "logcapture.h"
#include "packagecheck.h"
#include "zippackage.h"

#include <QtTest>

using testsupport::LogCapture;
using testsupport::ZipPackage;

class tst_PackageCheck : public QObject
{
    Q_OBJECT

private slots:
    void checks_data()
    {
        QTest::addColumn<QString>("product");
        QTest::addColumn<QString>("members");
        QTest::addColumn<QString>("missing"); // in the order of the error text
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<bool>("updateEdid");

        const QString legacy = "kestrel3.bin LumexorDriverlessGrabber.img usb-sandbox.img";
        const QString kestrel = "kestrel3.bin kestrel3.img kestrel3-sandbox.img";
        QTest::newRow("legacy, with EDID") << "legacy" << legacy + " edid_kestrel3_uvc.edid"
                                           << "" << true << true;
        QTest::newRow("legacy, images") << "legacy" << legacy << "" << true << false;
        QTest::newRow("legacy, kestrel3 names")
            << "legacy" << kestrel << "LumexorDriverlessGrabber.img usb-sandbox.img" << false
            << false;
        // The row has no EDID; another product's EDID member is not looked at.
        QTest::newRow("ospreyx3")
            << "ospreyx3"
            << "ospreyx3.bin ospreyx3.img ospreyx3-sandbox.img edid_kestrel3_uvc.edid"
            << "" << true << false;
        QTest::newRow("ospreyx3, empty package")
            << "ospreyx3"
            << ""
            << "ospreyx3.bin ospreyx3.img ospreyx3-sandbox.img" << false << false;
        QTest::newRow("harrier3, EDID only")
            << "harrier3"
            << "edid_harrier3_uvc.edid"
            << "harrier3.bin harrier3.img harrier3-sandbox.img" << true << true;
        QTest::newRow("harrier3, EDID and one image")
            << "harrier3"
            << "edid_harrier3_uvc.edid harrier3.bin"
            << "harrier3.img harrier3-sandbox.img" << false << true;
        QTest::newRow("harrier3, EDID and two images")
            << "harrier3"
            << "harrier3.img edid_harrier3_uvc.edid harrier3.bin"
            << "harrier3-sandbox.img" << false << true;
        QTest::newRow("harrier3, wrong EDID")
            << "harrier3"
            << "edid_kestrel3_uvc.edid"
            << "harrier3.bin harrier3.img harrier3-sandbox.img" << false << false;
        QTest::newRow("kestrel3_4k, product.info only")
            << "kestrel3_4k"
            << "product.info"
            << "kestrel3_4k.bin kestrel3_4k.img kestrel3_4k-sandbox.img" << false << false;
        QTest::newRow("kestrel3_4k, name case")
            << "kestrel3_4k"
            << "KESTREL3_4K.bin kestrel3_4k.img kestrel3_4k-sandbox.img"
            << "kestrel3_4k.bin" << false << false;
    }

    void checks()
    {
        QFETCH(QString, product);
        QFETCH(QString, members);
        QFETCH(QString, missing);
        QFETCH(bool, accepted);
        QFETCH(bool, updateEdid);

        // Empty members: whether a member is usable is for the step that reads it.
        ZipPackage package;
        for (const QString &member : members.split(' ', Qt::SkipEmptyParts))
            package.add(member.toStdString(), {}, ZipPackage::Deflated);
        ZipArchive archive(package.write().toStdString());
        QVERIFY(archive.isOpen());
        const ProductInfo &info = productTable.at(product.toStdString());

        PackageMembers found {true, true}; // left over from an earlier run
        QStringList errors;
        LogCapture log;
        QCOMPARE(checkPackageMembers(archive, info, found, [&](const QString &t) { errors << t; }),
            accepted ? 0 : -1);

        const QStringList missingList = missing.split(' ', Qt::SkipEmptyParts);
        QCOMPARE(found.skipFirmware, !missingList.isEmpty());
        QCOMPARE(found.updateEdid, updateEdid);
        QStringList debug;
        for (const QString &name : missingList)
            debug << "required file not found: " + name;
        if (updateEdid)
            debug << "optional file found: " + QString::fromStdString(info.edidFile);
        QCOMPARE(log.debug(), debug);
        QCOMPARE(errors,
            accepted ? QStringList()
                     : QStringList {
                         "Invalid firmware package. File(s) not found: " + missingList.join(", ")});
    }
};

QTEST_GUILESS_MAIN(tst_PackageCheck)
#include "tst_packagecheck.moc"
