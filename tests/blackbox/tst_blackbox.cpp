// The window's program, unchanged, on the drop-in virtual bus: started with -update and a
// package, it must leave the virtual device's flash equal to the package, as the device keeps it
// in its state folder, and the next run must find the device as the new firmware makes it.
#include "dropinrun.h"

#include <QtTest>

class tst_BlackBox : public QObject
{
    Q_OBJECT

private slots:
    void updates_data();
    void updates();
};

void tst_BlackBox::updates_data()
{
    QTest::addColumn<QByteArray>("devices");
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("nextRun"); // what the next run finds on the bus

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

    const QString package = sample(qPrintable(product));
    const QList<QByteArray> images = packageImages(package, product.toStdString());
    QVERIFY(!images[0].isEmpty() && !images[1].isEmpty() && images[2].size() == 256);

    DropInRun program(devices);
    QVERIFY(program.start({"-update", "-firmware", package}, LUMEXOR_PROGRAM));
    // The EDID is the last step: once it is saved, the update has finished.
    const bool flashed = QTest::qWaitFor([&] { return program.images("1-1") == images; }, 60000);
    QVERIFY2(flashed, program.err.right(2000).constData());
    QVERIFY(!program.err.contains("Update error"));

    // A second run keeps the state of the first.
    program.process.kill();
    QVERIFY(program.process.waitForFinished(5000));
    QVERIFY(program.start({}, LUMEXOR_PROGRAM));
    QVERIFY(program.said("New device"));
    QVERIFY2(program.err.contains(("check device " + nextRun).toUtf8()),
        program.err.right(2000).constData());
    QCOMPARE(program.images("1-1"), images);
}

QTEST_GUILESS_MAIN(tst_BlackBox)
#include "tst_blackbox.moc"
