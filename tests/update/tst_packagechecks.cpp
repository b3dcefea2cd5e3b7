#include "rig.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The package file and what is checked before anything is flashed: the archive opened by the
// name's bytes, its members read, the product it is for, the members it needs, and whether the
// selected device takes it.
class tst_PackageChecks : public QObject
{
    Q_OBJECT

private slots:
    void openFailures_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("zipError");
        QTest::addColumn<QString>("text");
        QTest::newRow("missing file") << "missing" << ZIP_ER_NOENT << "No such file";
        QTest::newRow("not a zip") << "text" << ZIP_ER_NOZIP << "Not a zip archive";
        QTest::newRow("folder") << "folder" << ZIP_ER_OPNOTSUPP << "Operation not supported";
        // The system would read the name up to the NUL and open the package before it.
        QTest::newRow("NUL in the name")
            << "nul" << ZIP_ER_OPEN << "Can't open file: No such file or directory";
    }

    void openFailures()
    {
        QFETCH(QString, kind);
        QFETCH(int, zipError);

        ZipPackage package;
        const QString path = kind == "text" ? package.writeRaw("package.fw", "kestrel3\nnot zip\n")
            : kind == "missing"             ? package.folder() + "/nothere.fw"
            : kind == "nul"                 ? package.writeRaw("package.fw", "") + QChar(0) + "x"
                                            : package.folder();
        errno = EACCES; // a stale errno must not end up in the pair, nor in its text
        ZipArchive archive(path.toStdString());
        QVERIFY(!archive.isOpen());
        QCOMPARE(archive.error().zip, zipError);
        QCOMPARE(archive.error().system, kind == "missing" || kind == "nul" ? ENOENT : 0);
        QTEST(QString::fromStdString(archive.errorString()), "text");
        QVERIFY(!archive.stat("kestrel3.img").found());
        char byte;
        QCOMPARE(archive.openFile("kestrel3.img").read(&byte, 1), int64_t(-1));
    }

    // A name is opened by its bytes: one shown with U+FFFD is found among the names shown so,
    // and refused when none or more than one is.
    void packagePaths_data()
    {
        QTest::addColumn<QByteArrayList>("files"); // in the folder; "d/" makes a folder d
        QTest::addColumn<QString>("shown"); // the path below the folder, as the user sees it
        QTest::addColumn<QByteArray>("bytes"); // empty: refused
        const QByteArray odd = "pkg-\xff.fw", decoy = "pkg-\xef\xbf\xbd.fw";
        const QString replaced = QString::fromUtf8(decoy);
        QTest::newRow("plain") << QByteArrayList {"pkg.fw"} << "pkg.fw" << QByteArray("pkg.fw");
        QTest::newRow("odd byte") << QByteArrayList {odd} << replaced << odd;
        QTest::newRow("odd folder")
            << QByteArrayList {"d-\xfe/", "d-\xfe/pkg.fw"}
            << QString::fromUtf8("d-\xef\xbf\xbd/pkg.fw") << QByteArray("d-\xfe/pkg.fw");
        QTest::newRow("decoy alone") << QByteArrayList {decoy} << replaced << decoy;
        QTest::newRow("odd byte and decoy")
            << QByteArrayList {odd, decoy} << replaced << QByteArray();
        QTest::newRow("nothing so named") << QByteArrayList {"pkg.fw"} << replaced << QByteArray();
    }

    void packagePaths()
    {
        QFETCH(QByteArrayList, files);
        QFETCH(QString, shown);
        QFETCH(QByteArray, bytes);
        QTemporaryDir dir;
        const QByteArray root = QFile::encodeName(dir.path()) + '/';
        for (const QByteArray &name : files) {
            const QByteArray path = root + name;
            QVERIFY(name.endsWith('/') ? ::mkdir(path.constData(), 0700) == 0
                                       : ::close(::creat(path.constData(), 0600)) == 0);
        }
        QString why;
        const QByteArray found = packagePathBytes(dir.path() + '/' + shown, &why);
        QCOMPARE(found, bytes.isEmpty() ? QByteArray() : root + bytes);
        QCOMPARE(why.isEmpty(), !bytes.isEmpty());
        // The command line's bytes are taken as they came, whatever is beside them.
        const QByteArray argument = root + files.last();
        const char *argv[] = {"program", "--json", argument.constData()};
        QCOMPARE(argumentPathBytes(QFile::decodeName(argument), 3, argv), argument);
    }

    void identifies_data()
    {
        QTest::addColumn<QByteArray>("info");
        QTest::addColumn<int>("method");
        QTest::addColumn<QByteArray>("id");
        QTest::addColumn<QString>("error"); // empty: supported

        // "unsupported": "Unsupported product: '<id>'".
        const auto row = [](const char *name, const QByteArray &info, const QByteArray &id,
                             const QString &error = "", int method = ZipPackage::Stored) {
            QTest::newRow(name) << info << method << id << error;
        };
        const QString unsupported = "unsupported";
        const QByteArray bound(4096, 'a'), longId = "kestrel3_4k-with-a-much-longer-name";
        // Every product's own product.info (and legacy's none): tests/tools/tst_samplepackages.
        row("deflated, no line feed", "harrier3", "harrier3", "", ZipPackage::Deflated);
        // A NUL ends the text of its piece.
        row("NUL", QByteArray("kestrel3\0junk\n", 14), "kestrel3");
        row("CR LF", "ospreyx3\r\n", "ospreyx3\r", unsupported);
        row("empty", "", "", unsupported);
        row("case", "Kestrel3", "Kestrel3", unsupported);
        row("long, line feed in a later piece", longId + "\nospreyx3", longId, unsupported);
        row("at the bound", bound, bound, unsupported);
        row("past the bound", QByteArray(5000, 'a') + "\nkestrel3", bound, unsupported);
        row("NULs past the bound", QByteArray(8 << 20, '\0'), "", unsupported,
            ZipPackage::Deflated);
        row("cannot open", "kestrel3\n", "",
            "Product info file found but can't be opened: No password provided",
            ZipPackage::Encrypted);
        // A stored member with "MARK" is damaged; two full pieces reach its end, where the CRC
        // is checked.
        row("cannot read", "kestrel3-MARK-and-sixteen-more", "",
            "Can't read Product info file: CRC error");
        // Reading stops at the bound, before the damage.
        row("damage past the bound", QByteArray(6000, 'a') + "MARK", bound, unsupported);
    }

    void identifies()
    {
        QFETCH(QByteArray, info);
        QFETCH(int, method);
        QFETCH(QByteArray, id);
        QFETCH(QString, error);
        if (error == "unsupported")
            error = "Unsupported product: '" + QString::fromLatin1(id) + "'";

        ZipPackage package;
        package.add("kestrel3.bin", "fpga");
        ZipArchive archive = openedWith(
            package, "product.info", info, info.contains("MARK"), ZipPackage::Method(method));
        ProductMatch match;
        Reports errors;
        const int result = identifyProduct(archive, match, errors.to());
        if (error.isEmpty() || error.startsWith("Unsupported"))
            QCOMPARE(QByteArray::fromStdString(match.name), id);
        QCOMPARE(result, error.isEmpty() ? 0 : -1);
        QCOMPARE(errors.join('\n'), error);
        QCOMPARE(match.info, error.isEmpty() ? &productTable.at(id.toStdString()) : nullptr);
    }

    void checks_data()
    {
        QTest::addColumn<QString>("product");
        QTest::addColumn<QString>("members");
        QTest::addColumn<QString>("missing"); // in the order of the error text
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<bool>("updateEdid");

        const auto row = [](const char *name, const char *product, const QString &members,
                             const QString &missing, bool accepted, bool updateEdid) {
            QTest::newRow(name) << QString(product) << members << missing << accepted << updateEdid;
        };
        const QString legacy = "kestrel3.bin LumexorDriverlessGrabber.img usb-sandbox.img";
        const QString harrier = "harrier3.bin harrier3.img harrier3-sandbox.img";
        const QString edid = "edid_harrier3_uvc.edid";
        row("legacy, with EDID", "legacy", legacy + " edid_kestrel3_uvc.edid", "", true, true);
        row("legacy, images", "legacy", legacy, "", true, false);
        row("legacy, kestrel3 names", "legacy", "kestrel3.bin kestrel3.img kestrel3-sandbox.img",
            "LumexorDriverlessGrabber.img usb-sandbox.img", false, false);
        // The row has no EDID; another product's EDID member is not looked at.
        row("ospreyx3", "ospreyx3",
            "ospreyx3.bin ospreyx3.img ospreyx3-sandbox.img edid_kestrel3_uvc.edid", "", true,
            false);
        row("ospreyx3, empty package", "ospreyx3", "",
            "ospreyx3.bin ospreyx3.img ospreyx3-sandbox.img", false, false);
        row("harrier3, EDID only", "harrier3", edid, harrier, true, true);
        row("harrier3, EDID and one image", "harrier3", edid + " harrier3.bin",
            "harrier3.img harrier3-sandbox.img", false, true);
        row("harrier3, wrong EDID", "harrier3", "edid_kestrel3_uvc.edid", harrier, false, false);
        row("kestrel3_4k, name case", "kestrel3_4k",
            "KESTREL3_4K.bin kestrel3_4k.img kestrel3_4k-sandbox.img", "kestrel3_4k.bin", false,
            false);
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
        Reports errors;
        QCOMPARE(checkPackageMembers(archive, info, found, errors.to()), accepted ? 0 : -1);
        QCOMPARE(found.skipFirmware, !missing.isEmpty());
        QCOMPARE(found.updateEdid, updateEdid);
        QCOMPARE(errors.join('\n'),
            accepted
                ? QString()
                : "Invalid firmware package. File(s) not found: " + missing.split(' ').join(", "));
    }

    void compatibility_data()
    {
        QTest::addColumn<QString>("product");
        QTest::addColumn<int>("vendorId");
        QTest::addColumn<int>("productId");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("compatible");

        const auto row = [](const char *name, const char *product, int vendorId, int productId,
                             DeviceMode mode, bool compatible) {
            QTest::newRow(name) << QString(product) << vendorId << productId << int(mode)
                                << compatible;
        };
        row("kestrel3", "kestrel3", 0x2B77, 0x3601, Normal, true);
        row("legacy, vendor 5555", "legacy", 0x5555, 0x3601, Normal, true);
        row("4k, both ids", "kestrel3_4k", 0x2B77, 0x3641, Normal, true);
        row("low digit 2", "ospreyx3", 0x2B77, 0x3622, Normal, false);
        row("other vendor", "ospreyx3", 0x1234, 0x3621, Normal, false);
        // Soft repair (id ending in 0) and the sandbox (F) do not tell the product; the vendor
        // still has to match.
        row("soft repair", "harrier3", 0x2B77, 0x3620, SoftRepair, true);
        row("sandbox", "harrier3", 0x2B77, 0x362F, DirectUpdate, true);
        row("5555 soft repair", "kestrel3", 0x5555, 0x3600, SoftRepair, true);
        row("5555 soft repair, ospreyx3", "ospreyx3", 0x5555, 0x3600, SoftRepair, false);
        row("boot loader", "kestrel3_4k", 0x04B4, 0x00F3, HardRepair, true);
        row("boot loader ids, not in repair", "kestrel3_4k", 0x04B4, 0x00F3, Normal, false);
    }

    void compatibility()
    {
        QFETCH(QString, product);
        QFETCH(int, vendorId);
        QFETCH(int, productId);
        QFETCH(int, mode);
        QFETCH(bool, compatible);

        DeviceDescription desc;
        desc.vendorId = uint16_t(vendorId);
        desc.productId = uint16_t(productId);
        desc.mode = mode;
        const ProductInfo &info = productTable.at(product.toStdString());
        Reports errors;
        QCOMPARE(isDeviceCompatible(info, desc, errors.to()), compatible);
        QCOMPARE(errors,
            compatible ? QStringList() : QStringList {"Selected device and firmware incompatible"});
        QCOMPARE(isDeviceCompatible(info, desc), compatible); // no reporter
    }
};

QTEST_GUILESS_MAIN(tst_PackageChecks)
#include "tst_packagechecks.moc"
