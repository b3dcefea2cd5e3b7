#include "rig.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The member read to its end in pieces; "failed: <reason>" when a read fails.
QByteArray readAll(ZipFile &file, uint64_t pieceSize = 4095)
{
    QByteArray all, piece(int(pieceSize), '\0');
    int64_t count;
    while ((count = file.read(piece.data(), pieceSize)) > 0)
        all.append(piece.constData(), int(count));
    return count < 0 ? "failed: " + QByteArray::fromStdString(file.errorString()) : all;
}

} // namespace

class tst_ZipArchive : public QObject
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
        QVERIFY(!archive.openFile("kestrel3.img").isOpen());
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

    // Members read to their end in pieces that do not divide them, and stay there. Damaged,
    // encrypted and missing members are the steps' (tst_flashsteps, tst_bootimage,
    // tst_packagechecks), which report libzip's texts for them.
    void members()
    {
        const QByteArray image = patternBytes(70000);
        ZipPackage package;
        package.add("stored.bin", image).add("deflated.bin", image, ZipPackage::Deflated);
        package.add("empty-deflated.bin", {}, ZipPackage::Deflated);
        ZipArchive archive(package.write().toStdString());
        QVERIFY(archive.isOpen());

        for (const char *name : {"stored.bin", "deflated.bin"}) {
            QCOMPARE(archive.stat(name).size, zip_uint64_t(image.size()));
            ZipFile file = archive.openFile(name);
            QCOMPARE(readAll(file), image);
            QCOMPARE(file.read(nullptr, 0), int64_t(0)); // stays at the end
            file = archive.openFile(name);
            QCOMPARE(readAll(file, 15), image);
        }
        ZipFile empty = archive.openFile("empty-deflated.bin");
        QCOMPARE(readAll(empty), QByteArray());
        QVERIFY(!archive.stat("STORED.bin").found()); // names are compared exactly
        ZipFile notOpen = archive.openFile("nothere.bin");
        QVERIFY(!notOpen.isOpen());
        QCOMPARE(readAll(notOpen), QByteArray("failed: Invalid argument"));
    }

    // An archive in memory reads as the file does, from a copy of its own: the caller's bytes may
    // change or go once it is open; a member outlives the archive object it came from.
    void fromMemory()
    {
        ZipPackage package;
        package.add("b.bin", patternBytes(70000), ZipPackage::Deflated);
        QFile file(package.write());
        QVERIFY(file.open(QIODevice::ReadOnly));
        ZipFile member;
        {
            QByteArray bytes = file.readAll();
            ZipArchive archive
                = ZipArchive::fromMemory(bytes.constData(), std::size_t(bytes.size()));
            QVERIFY(archive.isOpen());
            QCOMPARE(archive.stat("b.bin").size, zip_uint64_t(70000));
            member = archive.openFile("b.bin");
            bytes.fill('\0');
        }
        QCOMPARE(readAll(member), patternBytes(70000));

        const ZipArchive text = ZipArchive::fromMemory("kestrel3\nnot zip\n", 17);
        QVERIFY(!text.isOpen());
        QCOMPARE(text.error().zip, ZIP_ER_NOZIP);
    }
};

QTEST_GUILESS_MAIN(tst_ZipArchive)
#include "tst_ziparchive.moc"
