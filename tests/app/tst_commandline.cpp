#include "commandline.h"

#include <QtTest>

#include <vector>

class tst_CommandLine : public QObject
{
    Q_OBJECT

private slots:
    void walk_data()
    {
        // argv as the program gets it: bytes, which need not be UTF-8.
        QTest::addColumn<QByteArrayList>("args");
        QTest::addColumn<int>("vid");
        QTest::addColumn<int>("pid");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QByteArray>("firmware");
        QTest::addColumn<bool>("autoUpdate");

        const auto row = [](const char *name, const QByteArrayList &args, int vid, int pid,
                             const QString &serial, const QByteArray &firmware, bool autoUpdate) {
            QTest::newRow(name) << args << vid << pid << serial << firmware << autoUpdate;
        };
        row("none", {}, 0, 0, "", {}, false);
        row("vid hex", {"-vid", "1a2b"}, 0x1A2B, 0, "", {}, false);
        row("pid 0x prefix", {"-pid", "0x0abc"}, 0, 0x0ABC, "", {}, false);
        row("pid garbage is any", {"-pid", "zz"}, 0, 0, "", {}, false);
        row("value-taking option last", {"-update", "-serial"}, 0, 0, "", {}, true);
        row("value is taken whatever it is", {"-serial", "-update"}, 0, 0, "-update", {}, false);
        row("last one wins", {"-vid", "1", "-vid", "2"}, 2, 0, "", {}, false);
        row("case-sensitive", {"-VID", "1a2b"}, 0, 0, "", {}, false);
        row("help has no effect", {"-help", "-firmware", "/tmp/a b.fw"}, 0, 0, "", "/tmp/a b.fw",
            false);
        row("serial as UTF-8", {"-serial", "Größe-Ω"}, 0, 0, "Größe-Ω", {}, false);
        // A name that is not UTF-8 is tests/ui's (tst_firmwarepage, packageNames).
        row("everything",
            {"stray", "-vid", "2B77", "-pid", "3621", "-serial", "A1B2C3", "-firmware", "pkg.fw",
                "-update"},
            0x2B77, 0x3621, "A1B2C3", "pkg.fw", true);
    }

    void walk()
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
};

QTEST_APPLESS_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
