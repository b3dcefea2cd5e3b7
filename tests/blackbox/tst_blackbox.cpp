// The window's program, unchanged, on the drop-in virtual bus: started with -update and a
// package, it must leave the virtual device's flash equal to the package, as the device keeps it
// in its state folder, and the next run must find the device as the new firmware makes it; and
// its list must follow the device file while it runs. (A repair on the drop-in bus, and the next
// run after it, are tst_cli's.)
#include "dropinrun.h"

#include <QSaveFile>
#include <QtTest>

class tst_BlackBox : public QObject
{
    Q_OBJECT

private slots:
    // KESTREL3 4K: its package's FPGA image is in the plain format.
    void update()
    {
        const QString package = sample("kestrel3_4k");
        const QList<QByteArray> images = packageImages(package, "kestrel3_4k");
        QVERIFY(!images[0].isEmpty() && !images[1].isEmpty() && images[2].size() == 256);

        DropInRun program(R"([{"kind": "KESTREL3 4K", "serial": "K4000001", "version": "3.4.0"}])");
        QVERIFY(program.start({"-update", "-firmware", package}, LUMEXOR_PROGRAM));
        // The EDID is the last step: once it is saved, the update has finished.
        const bool flashed
            = QTest::qWaitFor([&] { return program.images("1-1") == images; }, 60000);
        QVERIFY2(flashed, program.err.right(2000).constData());
        QVERIFY(!program.err.contains("Update error"));

        // A second run keeps the state of the first.
        program.process.kill();
        QVERIFY(program.process.waitForFinished(5000));
        QVERIFY(program.start({}, LUMEXOR_PROGRAM));
        QVERIFY(QTest::qWaitFor([&] { return program.err.contains("New device"); }, 20000));
        QVERIFY2(
            program.err.contains("check device 2b77 / 3641"), program.err.right(2000).constData());
        QCOMPARE(program.images("1-1"), images);
    }

    // A device added to the device file arrives on the drop-in bus and one taken out leaves it;
    // the window scans again by itself after each.
    void followsTheDeviceFile()
    {
        DropInRun program("[{}]");
        QVERIFY(program.start({}, LUMEXOR_PROGRAM));
        const auto listed = [&](int scans, int devices) {
            return QTest::qWaitFor(
                [&] {
                    return program.err.count("Scan devices") == scans
                        && program.err.count("New device") == devices;
                },
                20000);
        };
        const auto rewrite = [&](const QByteArray &devices) {
            QSaveFile file(program.dir.filePath("devices.json"));
            return file.open(QIODevice::WriteOnly) && file.write(devices) && file.commit();
        };
        QVERIFY(listed(1, 1));
        QVERIFY(rewrite(R"([{}, {"kind": "OSPREYX3", "port": [2]}])"));
        QVERIFY2(listed(2, 3), program.err.right(2000).constData());
        QVERIFY(program.err.contains("devices.json changed: 1 device(s) arrived, 0 left"));
        QVERIFY(rewrite(R"([{"kind": "OSPREYX3", "port": [2]}])"));
        QVERIFY2(listed(3, 4), program.err.right(2000).constData());
        QVERIFY(program.err.contains("devices.json changed: 0 device(s) arrived, 1 left"));
        QVERIFY(program.err.lastIndexOf("New device \"OSPREYX3\"")
            > program.err.lastIndexOf("New device \"KESTREL3\""));
    }
};

QTEST_GUILESS_MAIN(tst_BlackBox)
#include "tst_blackbox.moc"
