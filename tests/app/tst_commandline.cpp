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
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("vid");
    QTest::addColumn<int>("pid");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("firmware");
    QTest::addColumn<bool>("autoUpdate");

    QTest::newRow("none") << QStringList() << 0 << 0 << ""
                          << "" << false;
    QTest::newRow("vid hex") << QStringList {"-vid", "1a2b"} << 0x1A2B << 0 << ""
                             << "" << false;
    QTest::newRow("pid 0x prefix") << QStringList {"-pid", "0x0abc"} << 0 << 0x0ABC << ""
                                   << "" << false;
    QTest::newRow("pid garbage is any") << QStringList {"-pid", "zz"} << 0 << 0 << ""
                                        << "" << false;
    QTest::newRow("value-taking option last") << QStringList {"-update", "-serial"} << 0 << 0 << ""
                                              << "" << true;
    QTest::newRow("value is taken whatever it is")
        << QStringList {"-serial", "-update"} << 0 << 0 << "-update"
        << "" << false;
    QTest::newRow("last one wins") << QStringList {"-vid", "1", "-vid", "2"} << 2 << 0 << ""
                                   << "" << false;
    QTest::newRow("case-sensitive") << QStringList {"-VID", "1a2b"} << 0 << 0 << ""
                                    << "" << false;
    QTest::newRow("help has no effect")
        << QStringList {"-help", "-firmware", "/tmp/a b.fw"} << 0 << 0 << ""
        << "/tmp/a b.fw" << false;
    QTest::newRow("update without firmware") << QStringList {"-update"} << 0 << 0 << ""
                                             << "" << true;
    QTest::newRow("serial as UTF-8") << QStringList {"-serial", "Größe-Ω"} << 0 << 0 << "Größe-Ω"
                                     << "" << false;
    QTest::newRow("everything") << QStringList {"stray", "-vid", "2B77", "-pid", "3621", "-serial",
        "A1B2C3", "-firmware", "pkg.fw", "-update"}
                                << 0x2B77 << 0x3621 << "A1B2C3"
                                << "pkg.fw" << true;
}

void tst_CommandLine::walk()
{
    QFETCH(QStringList, args);

    std::vector<QByteArray> bytes {"lumexor-capture-config"};
    for (const QString &arg : args)
        bytes.push_back(arg.toUtf8());
    std::vector<const char *> argv;
    for (const QByteArray &b : bytes)
        argv.push_back(b.constData());

    const CommandLine line = parseCommandLine(int(argv.size()), argv.data());
    QTEST(int(line.filter.vid), "vid");
    QTEST(int(line.filter.pid), "pid");
    QTEST(line.filter.serial, "serial");
    QTEST(line.firmwarePath, "firmware");
    QTEST(line.autoUpdate, "autoUpdate");
}

QTEST_APPLESS_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
