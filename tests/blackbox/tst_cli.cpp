// lumexor-capture-cli, unchanged, on the drop-in virtual bus: what a script sees (output, JSON,
// exit status) and what the devices keep in their state folders afterwards.
#include "packageimages.h"

#include <QtTest>

namespace {

// Three devices: two working ones of different products and a KESTREL3 in soft repair.
const QByteArray threeDevices = R"({"devices": [
    {"kind": "OSPREYX3", "bus": 2, "port": [1, 1], "serial": "OX3C0417", "version": "3.4.0",
     "flags": "0x02"},
    {"kind": "KESTREL3", "bus": 2, "port": [1, 2], "serial": "K3A81F02", "version": "3.4.0"},
    {"kind": "KESTREL3", "state": "soft-repair", "bus": 2, "port": [3], "serial": null}
]})";

QString sample(const char *product)
{
    return QString(LUMEXOR_SAMPLES_DIR) + '/' + product + ".fw";
}

// Runs of the tool on one set of virtual devices, which keep their state between runs.
class Cli
{
public:
    explicit Cli(const QByteArray &devices = threeDevices)
    {
        QFile file(dir.filePath("devices.json"));
        if (file.open(QIODevice::WriteOnly))
            file.write(devices);
        env = QProcessEnvironment::systemEnvironment();
        env.insert("LD_LIBRARY_PATH", LUMEXOR_DROPIN_DIR);
        env.insert("LUMEXOR_VIRTUAL_DEVICES", file.fileName());
        env.insert("LUMEXOR_VIRTUAL_STATE", dir.filePath("state"));
        env.insert("LUMEXOR_VIRTUAL_LOG", dir.filePath("transfers.log"));
    }

    void start(const QStringList &arguments)
    {
        out.clear();
        err.clear();
        process.setProcessEnvironment(env);
        process.start(LUMEXOR_CLI, arguments);
    }

    // One whole run; its exit status, -1 when it did not end in time.
    int run(const QStringList &arguments)
    {
        start(arguments);
        return finish();
    }

    int finish()
    {
        if (!process.waitForFinished(60000))
            return -1;
        out += process.readAllStandardOutput();
        err += process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    // The JSON values of the output, one a line.
    QList<QJsonValue> jsonLines() const
    {
        QList<QJsonValue> values;
        for (const QByteArray &line : out.split('\n')) {
            if (line.isEmpty())
                continue;
            QJsonParseError error {};
            const QJsonDocument document = QJsonDocument::fromJson(line, &error);
            values << (error.error == QJsonParseError::NoError
                    ? (document.isArray() ? QJsonValue(document.array())
                                          : QJsonValue(document.object()))
                    : QJsonValue(QJsonValue::Undefined));
        }
        return values;
    }

    QByteArray saved(const QString &port, const char *file) const
    {
        QFile f(dir.filePath("state/" + port + '/' + file));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QList<QByteArray> images(const QString &port) const
    {
        return savedImages(dir.filePath("state/" + port));
    }

    QTemporaryDir dir;
    QProcessEnvironment env;
    QProcess process;
    QByteArray out;
    QByteArray err;
};

} // namespace

class tst_Cli : public QObject
{
    Q_OBJECT

private slots:
    void list()
    {
        Cli cli;
        QCOMPARE(cli.run({"list"}), 0);
        QCOMPARE(cli.out,
            "normal      2b77:3621 OX3C0417   3.4.0    2-1.1      OSPREYX3\n"
            "normal      2b77:3601 K3A81F02   3.4.0    2-1.2      KESTREL3\n"
            "soft-repair 2b77:3600 FFFFFFFF   -        2-3        KESTREL3\n");

        QCOMPARE(cli.run({"list", "--json"}), 0);
        const QList<QJsonValue> lines = cli.jsonLines();
        QCOMPARE(lines.size(), 1);
        const QJsonArray devices = lines.first().toArray();
        QCOMPARE(devices.size(), 3);
        const QJsonObject repair = devices.at(2).toObject();
        QCOMPARE(repair.value("state").toString(), "soft-repair");
        QCOMPARE(repair.value("productId").toString(), "3600");
        QCOMPARE(repair.value("port").toString(), "2-3");
        QCOMPARE(repair.value("portPath").toArray(), QJsonArray {3});
        QCOMPARE(devices.at(0).toObject().value("settings").toArray(),
            (QJsonArray {"aspect-ratio", "performance", "audio-selector", "user-modes"}));
    }

    void check_data()
    {
        QTest::addColumn<QString>("package"); // a sample, or a broken variant of KESTREL3
        QTest::addColumn<QString>("refusal"); // empty: would go ahead
        QTest::newRow("good") << "kestrel3"
                              << "";
        QTest::newRow("EDID in the plain format") << "kestrel3_4k"
                                                  << "";
        QTest::newRow("microcode not whole words")
            << "microcode-unaligned"
            << "Error: microcode block does not aligned by 32 bit length";
        QTest::newRow("no sandbox") << "missing-sandbox"
                                    << "Invalid firmware package. File(s) not found: "
                                       "kestrel3-sandbox.img";
        QTest::newRow("EDID checksum") << "bad-edid-checksum"
                                       << "EDID data has incorrect checksum";
        QTest::newRow("sandbox cut short") << "truncated-boot-image"
                                           << "truncated";
        QTest::newRow("no such file") << "missing"
                                      << "Cannot open firmware package: ";
    }

    void check()
    {
        QFETCH(QString, package);
        QFETCH(QString, refusal);
        QTemporaryDir packages;
        QString path = sample(qPrintable(package));
        if (!QFile::exists(path)) {
            QProcess maker;
            maker.start(LUMEXOR_MAKE_PACKAGES,
                {"--product", "kestrel3", "--broken", package, packages.path()});
            QVERIFY(maker.waitForFinished(30000));
            path = packages.filePath("kestrel3-" + package + ".fw");
        }
        Cli cli;
        QCOMPARE(cli.run({"check", path, "--json"}), refusal.isEmpty() ? 0 : 1);
        const QJsonObject report = cli.jsonLines().value(0).toObject();
        QCOMPARE(report.value("refused").toBool(), !refusal.isEmpty());
        QVERIFY2(report.value("error").toString().contains(refusal), cli.out.constData());
        QVERIFY(cli.err.contains(refusal.toUtf8()));
        // Nothing was asked of a device.
        QVERIFY(!QFile::exists(cli.dir.filePath("transfers.log"))
            || !QFile(cli.dir.filePath("transfers.log")).size());
    }

    // One device of three is updated, another repaired; the third keeps what it had.
    void update()
    {
        Cli cli;
        QCOMPARE(cli.run({"update", sample("kestrel3"), "--port", "2-1.2"}), 0);
        QVERIFY2(cli.out.contains("Update completed"), cli.out.constData());
        QCOMPARE(cli.images("2-1.2"), packageImages(sample("kestrel3"), "kestrel3"));

        QCOMPARE(cli.run({"update", sample("kestrel3"), "--port", "2-3", "--json"}), 0);
        const QList<QJsonValue> events = cli.jsonLines();
        QVERIFY(!events.contains(QJsonValue::Undefined));
        QCOMPARE(events.last().toObject().value("result").toString(), "success");
        QCOMPARE(events.last().toObject().value("exitStatus").toInt(), 0);
        QStringList steps;
        for (const QJsonValue &event : events) {
            const QString step = event.toObject().value("step").toString();
            if (!step.isEmpty() && !steps.contains(step))
                steps << step;
        }
        QCOMPARE(steps, (QStringList {"package", "sandbox", "microcode", "fpga", "edid", "done"}));
        QCOMPARE(cli.images("2-3"), packageImages(sample("kestrel3"), "kestrel3"));
        QCOMPARE(cli.images("2-1.1"), (QList<QByteArray> {{}, {}, {}}));

        // Repaired, it is a working KESTREL3 now.
        QCOMPARE(cli.run({"list"}), 0);
        QVERIFY(cli.out.contains("normal      2b77:3601 "));
        QVERIFY(!cli.out.contains("soft-repair"));
    }

    void selection_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");
        QTest::newRow("three match")
            << QStringList {"update", sample("kestrel3")} << 3
            << "3 devices match; choose one with --serial or --port:\n  normal      2b77:3621";
        QTest::newRow("none matches") << QStringList {"update", sample("kestrel3"), "--port", "9-9"}
                                      << 3 << "No device matches; the devices found are:";
        QTest::newRow("no settings in repair")
            << QStringList {"settings", "--port", "2-3"} << 1 << "The device offers no settings.";
        QTest::newRow("no audio selector") << QStringList {"settings", "--port", "2-1.2",
            "--audio-selector", "on"} << 1 << "The device has no audio selector setting.";
        QTest::newRow("incompatible package") << QStringList {"update", sample("ospreyx3"),
            "--port", "2-1.2"} << 1 << "Selected device and firmware incompatible";
        QTest::newRow("usage") << QStringList {"update"} << 2 << "update needs a firmware package.";
    }

    // Refused with the window's texts, and nothing written.
    void selection()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, error);
        Cli cli;
        QCOMPARE(cli.run(args), status);
        QVERIFY2(cli.err.contains(error.toUtf8()), cli.err.constData());
        for (const char *port : {"2-1.1", "2-1.2", "2-3"}) {
            QCOMPARE(cli.images(port), (QList<QByteArray> {{}, {}, {}}));
            QCOMPARE(cli.saved(port, "settings.bin"), QByteArray());
        }
    }

    // Written, then read back from what the device keeps: the flags byte and the three user
    // modes (width, height little-endian, then 0 for offered).
    void settings()
    {
        Cli cli;
        QCOMPARE(cli.run({"settings", "--serial", "OX3C0417", "--port", "2-1.1", "--performance",
                     "on", "--aspect-ratio", "off"}),
            0);
        QCOMPARE(cli.out, "keep aspect ratio: off\nperformance mode: on\naudio selector: off\n");
        QCOMPARE(cli.saved("2-1.1", "settings.bin").left(1), QByteArray("\x04"));

        QCOMPARE(cli.run({"user-modes", "--port", "2-1.1", "--mode", "1=1280x720", "--mode",
                     "3=off", "--json"}),
            0);
        QCOMPARE(
            cli.saved("2-1.1", "settings.bin").mid(1, 5), QByteArray("\x00\x05\xd0\x02\x00", 5));
        QCOMPARE(cli.saved("2-1.1", "settings.bin").at(15), '\x01');
        const QJsonArray modes = cli.jsonLines().value(0).toObject().value("userModes").toArray();
        QCOMPARE(modes.size(), 3);
        QCOMPARE(modes.at(0).toObject().value("width").toInt(), 1280);
        QCOMPARE(modes.at(2).toObject().value("offered").toBool(), false);

        QCOMPARE(cli.run({"signal", "--port", "2-1.1"}), 0);
        QCOMPARE(cli.out.count('\n'), 1);
    }

    // SIGTERM in the middle of a flash: the tool says it goes on, and the update completes.
    void termination()
    {
        Cli cli;
        cli.start({"update", sample("kestrel3"), "--port", "2-1.2", "--json"});
        QVERIFY(QTest::qWaitFor(
            [&] {
                cli.out += cli.process.readAllStandardOutput();
                return cli.out.contains(R"("step":"microcode")");
            },
            30000));
        cli.process.terminate();
        QCOMPARE(cli.finish(), 0);
        QVERIFY2(cli.out.contains(R"("event":"notice")"), cli.out.constData());
        QVERIFY(cli.out.contains(R"("result":"success")"));
        QCOMPARE(cli.images("2-1.2"), packageImages(sample("kestrel3"), "kestrel3"));
    }
};

QTEST_GUILESS_MAIN(tst_Cli)
#include "tst_cli.moc"
