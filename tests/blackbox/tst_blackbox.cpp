// The window's program, unchanged, on the drop-in virtual bus: started with -update and a
// package, it must leave the virtual device's flash equal to the package, as the device keeps it
// in its state folder, and the next run must find the device as the new firmware makes it. (A
// repair on the drop-in bus, and the next run after it, are tst_cli's.)
#include "dropinrun.h"

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
};

QTEST_GUILESS_MAIN(tst_BlackBox)
#include "tst_blackbox.moc"
