#include "flashrig.h"
#include "fx3flash.h"

using namespace flashtest;

class tst_Fx3Flash : public BusTest
{
    Q_OBJECT

private slots:
    void flash_data()
    {
        QTest::addColumn<QByteArray>("member");
        QTest::addColumn<Faults>("faults");
        QTest::addColumn<int>("busyPolls"); // after each piece; -1 for ever, -2 status without data
        QTest::addColumn<QString>("trace"); // a pattern
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("result");

        const QByteArray two = image(8192);
        const QString timedOut
            = "Error: failed to request flash status for FX3: LIBUSB_ERROR_TIMEOUT";
        QTest::newRow("two chunks, slow flash")
            << two << Faults() << 2 << "c5 c8x3 c6:4096 20 c8x3 c6:4096 30 c8x3 c7"
            << "" << 0;
        QTest::newRow("not whole words: nothing sent")
            << image(4098) << Faults() << 0 << ""
            << "Error: microcode block does not aligned by 32 bit length: 2" << -1;
        QTest::newRow("empty") << QByteArray("") << Faults() << 0 << "c5 c8 c7"
                               << "" << 0;
        QTest::newRow("missing") << QByteArray() << Faults() << 0 << ""
                                 << "Error: failed to find microcode image: kestrel3.img" << -1;
        QTest::newRow("start stalls")
            << two << Faults {{0xC5, 1, 1, LIBUSB_ERROR_PIPE}} << 0 << "c5"
            << "Error: failed to start microcode reflashing: Pipe error" << -9;
        QTest::newRow("status times out") << two << Faults {{0xC8, 2, 1, LIBUSB_ERROR_TIMEOUT}} << 0
                                          << "c5 c8 c6:4096 20 c8 c7" << timedOut << -7;
        QTest::newRow("busy for ever") << two << Faults() << -1 << "c5 c8x\\d+" << timedOut << -7;
        QTest::newRow("status without data")
            << two << Faults() << -2 << "c5 c8x\\d+" << timedOut << -7;
        QTest::newRow("chunk and completion fail: the first is reported")
            << two << Faults {{0xC6, 2, 1, LIBUSB_ERROR_PIPE}, {0xC7, 1, 1, LIBUSB_ERROR_TIMEOUT}}
            << 0 << "c5 c8 c6:4096 20 c8 c6:4096 c7"
            << "Error: failed to write microcode block: Pipe error" << -9;
        QTest::newRow("completion stalls")
            << two << Faults {{0xC7, 1, 1, LIBUSB_ERROR_PIPE}} << 0
            << "c5 c8 c6:4096 20 c8 c6:4096 30 c8 c7"
            << "Error: failed to complete microcode reflash: Pipe error" << -9;
        QTest::newRow("damaged member: run left open")
            << damaged << Faults() << 0 << "c5 c8 c6:4096 20 c8 c6:4096 30 c8"
            << "Error: failed to read microcode image: CRC error" << -1;
    }

    void flash()
    {
        QFETCH(QByteArray, member);
        QFETCH(Faults, faults);
        QFETCH(int, busyPolls);
        QFETCH(QString, trace);
        QFETCH(QString, error);
        QFETCH(int, result);

        Rig rig("kestrel3.img", member, faults);
        QVERIFY(rig.opened);
        rig.device->flash().setBusyPolls(std::max(busyPolls, -1));
        rig.device->flash().setEmptyStatus(busyPolls == -2);
        rig.context.readyTimeout = std::chrono::milliseconds(30);

        QCOMPARE(flashFx3Microcode(rig.context, 10, 30, "kestrel3.img", rig.archive), result);
        QVERIFY2(matches(rig.trace(), trace), qPrintable(rig.trace()));
        QCOMPARE(rig.errors.join('\n'), error);
        if (result == 0) {
            QCOMPARE(bytesOf(rig.device->flash().fx3Flash()), member);
            QCOMPARE(rig.log.debug().filter("Write chunk").join(';'),
                member.isEmpty() ? "" : "Write chunk [1] size: 4096;Write chunk [2] size: 4096");
        }
    }

    // A member the archive reports empty, or shorter than it reads, keeps the bar in range.
    void progressGuards()
    {
        QCOMPARE(flashProgress(34, 66, 4096, 10000), 47);
        QCOMPARE(flashProgress(34, 66, 4096, 0), 66);
        QCOMPARE(flashProgress(34, 66, 8192, 4096), 66);
        // A zip64 size beyond 2^63 neither turns negative nor wraps.
        QCOMPARE(flashProgress(2, 34, 4096, UINT64_MAX - 3), 2);
        QCOMPARE(flashProgress(2, 34, uint64_t(1) << 63, UINT64_MAX), 18);
    }
};

QTEST_GUILESS_MAIN(tst_Fx3Flash)
#include "tst_fx3flash.moc"
