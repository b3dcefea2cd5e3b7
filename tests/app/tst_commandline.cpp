#include "commandline.h"

#include <QtTest>

#include <vector>

class tst_CommandLine : public QObject
{
    Q_OBJECT

private slots:
    void walk_data();
    void walk();
};

void tst_CommandLine::walk_data()
{
    // argv as the program gets it: bytes, which need not be UTF-8.
    QTest::addColumn<QByteArrayList>("args");
    QTest::addColumn<int>("vid");
    QTest::addColumn<int>("pid");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QByteArray>("firmware");
    QTest::addColumn<bool>("autoUpdate");

    QTest::newRow("none") << QByteArrayList() << 0 << 0 << "" << QByteArray() << false;
    QTest::newRow("vid hex") << QByteArrayList {"-vid", "1a2b"} << 0x1A2B << 0 << "" << QByteArray()
                             << false;
    QTest::newRow("pid 0x prefix")
        << QByteArrayList {"-pid", "0x0abc"} << 0 << 0x0ABC << "" << QByteArray() << false;
    QTest::newRow("pid garbage is any")
        << QByteArrayList {"-pid", "zz"} << 0 << 0 << "" << QByteArray() << false;
    QTest::newRow("value-taking option last")
        << QByteArrayList {"-update", "-serial"} << 0 << 0 << "" << QByteArray() << true;
    QTest::newRow("value is taken whatever it is")
        << QByteArrayList {"-serial", "-update"} << 0 << 0 << "-update" << QByteArray() << false;
    QTest::newRow("last one wins")
        << QByteArrayList {"-vid", "1", "-vid", "2"} << 2 << 0 << "" << QByteArray() << false;
    QTest::newRow("case-sensitive")
        << QByteArrayList {"-VID", "1a2b"} << 0 << 0 << "" << QByteArray() << false;
    QTest::newRow("help has no effect") << QByteArrayList {"-help", "-firmware", "/tmp/a b.fw"} << 0
                                        << 0 << "" << QByteArray("/tmp/a b.fw") << false;
    QTest::newRow("update without firmware")
        << QByteArrayList {"-update"} << 0 << 0 << "" << QByteArray() << true;
    QTest::newRow("serial as UTF-8")
        << QByteArrayList {"-serial", "Größe-Ω"} << 0 << 0 << "Größe-Ω" << QByteArray() << false;
    // Shown with U+FFFD, as is a file named with the UTF-8 of U+FFFD: only the bytes tell
    // the two apart.
    QTest::newRow("firmware name not UTF-8")
        << QByteArrayList {"-firmware", "/tmp/pkg-\xff.fw"} << 0 << 0 << ""
        << QByteArray("/tmp/pkg-\xff.fw") << false;
    QTest::newRow("everything") << QByteArrayList {"stray", "-vid", "2B77", "-pid", "3621",
        "-serial", "A1B2C3", "-firmware", "pkg.fw", "-update"}
                                << 0x2B77 << 0x3621 << "A1B2C3" << QByteArray("pkg.fw") << true;
}

void tst_CommandLine::walk()
{
    QFETCH(QByteArrayList, args);
    QFETCH(QByteArray, firmware);

    std::vector<const char *> argv {"lumexor-capture-config"};
    for (const QByteArray &arg : args)
        argv.push_back(arg.constData());

    const CommandLine line = parseCommandLine(int(argv.size()), argv.data());
    QTEST(int(line.filter.vid), "vid");
    QTEST(int(line.filter.pid), "pid");
    QTEST(line.filter.serial, "serial");
    QCOMPARE(line.firmwareFile, firmware);
    QCOMPARE(line.firmwarePath, QString::fromUtf8(firmware));
    QTEST(line.autoUpdate, "autoUpdate");
}

QTEST_APPLESS_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
