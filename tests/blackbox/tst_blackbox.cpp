// The shipped program, unchanged, on the drop-in virtual bus: started with -update and a
// package, it must leave the virtual device's flash equal to the package, as the device keeps
// it in its state folder. Nothing of Qt Test runs inside the program.
#include "packageimages.h"

#include <QtTest>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// One run of the program with its own virtual devices, state folder and transfer log.
class Program
{
public:
    explicit Program(const QByteArray &deviceFile = QByteArray())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LD_LIBRARY_PATH", LUMEXOR_DROPIN_DIR);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_CONFIG_HOME", dir.filePath("config")); // never the user's settings
        env.insert("LUMEXOR_VIRTUAL_STATE", dir.filePath("state"));
        env.insert("LUMEXOR_VIRTUAL_LOG", dir.filePath("transfers.log"));
        if (!deviceFile.isNull()) {
            QFile file(dir.filePath("devices.json"));
            if (file.open(QIODevice::WriteOnly))
                file.write(deviceFile);
            env.insert("LUMEXOR_VIRTUAL_DEVICES", file.fileName());
        }
        process.setProcessEnvironment(env);
        QObject::connect(&process, &QProcess::readyReadStandardError,
            [this] { errors += process.readAllStandardError(); });
    }

    ~Program()
    {
        process.kill();
        process.waitForFinished(5000);
    }

    bool start(const QStringList &arguments)
    {
        process.start(LUMEXOR_PROGRAM, arguments);
        return process.waitForStarted(5000);
    }

    // What the device at `location` keeps of `file` in its state folder.
    QByteArray saved(const QString &location, const char *file) const
    {
        return readFile(dir.filePath("state/" + location + '/' + file));
    }

    bool saidOnStderr(const QString &text, int timeoutMs = 20000)
    {
        return QTest::qWaitFor([&] { return errors.contains(text.toUtf8()); }, timeoutMs);
    }

    QTemporaryDir dir;
    QProcess process;
    QByteArray errors;
};

} // namespace

class tst_BlackBox : public QObject
{
    Q_OBJECT

private slots:
    void updates_data();
    void updates();
    void refusedPackageLeavesTheFlash();
    void malformedDeviceFile();
};

void tst_BlackBox::updates_data()
{
    QTest::addColumn<QByteArray>("devices"); // null: the default KESTREL3
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("nextRun"); // what the next run finds on the bus

    QTest::newRow("KESTREL3, framed FPGA image") << QByteArray() << "kestrel3"
                                                 << "2b77 / 3601";
    QTest::newRow("KESTREL3 4K, plain FPGA image")
        << QByteArray(R"([{"kind": "KESTREL3 4K", "serial": "K4000001", "version": "3.4.0"}])")
        << "kestrel3_4k"
        << "2b77 / 3641";
    // Repaired, the device boots its new application firmware the next time.
    QTest::newRow("repair of a soft-repair device")
        << QByteArray(R"([{"kind": "HARRIER3", "state": "soft-repair", "serial": null}])")
        << "harrier3"
        << "2b77 / 3661";
}

void tst_BlackBox::updates()
{
    QFETCH(QByteArray, devices);
    QFETCH(QString, product);
    QFETCH(QString, nextRun);

    const QString package = QString(LUMEXOR_SAMPLES_DIR) + '/' + product + ".fw";
    const QList<QByteArray> images = packageImages(package, product.toStdString());
    QVERIFY(!images[0].isEmpty() && !images[1].isEmpty() && images[2].size() == 256);

    Program program(devices);
    QVERIFY(program.start({"-update", "-firmware", package}));
    // The EDID is the last step: once it is saved, the update has finished.
    const bool flashed = QTest::qWaitFor(
        [&] { return savedImages(program.dir.filePath("state/1-1")) == images; }, 60000);
    QVERIFY2(flashed, program.errors.right(2000).constData());
    QVERIFY(!program.errors.contains("Update error"));

    // A second run keeps the state of the first.
    program.process.kill();
    QVERIFY(program.process.waitForFinished(5000));
    program.errors.clear();
    QVERIFY(program.start({}));
    QVERIFY(program.saidOnStderr("New device"));
    QVERIFY2(program.errors.contains(("check device " + nextRun).toUtf8()),
        program.errors.right(2000).constData());
    QCOMPARE(savedImages(program.dir.filePath("state/1-1")), images);
}

void tst_BlackBox::refusedPackageLeavesTheFlash()
{
    QTemporaryDir packages;
    QProcess maker;
    maker.start(LUMEXOR_MAKE_PACKAGES,
        {"--product", "kestrel3", "--broken", "microcode-unaligned", packages.path()});
    QVERIFY(maker.waitForFinished(30000) && maker.exitCode() == 0);
    const QString package = packages.filePath("kestrel3-microcode-unaligned.fw");
    QVERIFY(QFile::exists(package));

    Program program;
    QVERIFY(program.start({"-update", "-firmware", package}));
    QVERIFY2(program.saidOnStderr("Update error"), program.errors.right(2000).constData());
    QVERIFY(program.errors.contains("microcode block does not aligned by 32 bit length"));
    for (const char *file : {"fx3-microcode.bin", "fpga-image.bin", "edid.bin"})
        QVERIFY2(program.saved("1-1", file).isEmpty(), file);
    // Not even the start of a flash run went out.
    QVERIFY(!readFile(program.dir.filePath("transfers.log")).contains(" 40 c5 "));
}

void tst_BlackBox::malformedDeviceFile()
{
    Program program("{\n  \"devices\": [\n    {\"kind\": \"KESTREL3\",, }\n  ]\n}\n");
    QVERIFY(program.start({}));
    const QString file = program.dir.filePath("devices.json");
    QVERIFY2(program.saidOnStderr(file + ": line 3, column 26: "),
        program.errors.right(2000).constData());
    QVERIFY(program.saidOnStderr("0 device(s) from " + file));
}

QTEST_GUILESS_MAIN(tst_BlackBox)
#include "tst_blackbox.moc"
