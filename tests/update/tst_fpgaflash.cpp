#include "flashrig.h"
#include "fpgaflashframed.h"
#include "fpgaflashplain.h"

using namespace flashtest;

class tst_FpgaFlash : public BusTest
{
    Q_OBJECT

private slots:
    void flash_data()
    {
        QTest::addColumn<bool>("framed");
        QTest::addColumn<QByteArray>("member");
        QTest::addColumn<Faults>("faults");
        QTest::addColumn<QString>("trace"); // the status reads busy twice after each piece
        QTest::addColumn<QStringList>("errors");
        QTest::addColumn<int>("result");

        const QByteArray i10k = image(10000);
        const QString head10k = "c2=465047411027000063b1d0b3"; // "FPGA", 10000, CRC of the two
        const QString block = "Error: failed to write FPGA block:  LIBUSB_ERROR_PIPE";
        const QString complete = "Error: failed to complete FPGA reflash: LIBUSB_ERROR_PIPE";
        const QStringList missing {"Error: failed to find FPGA image"};

        QTest::newRow("framed 10000") << true << i10k << Faults()
                                      << "c1 c4x3 " + head10k
                + " c2:4096 47 c4x3 c2:4096 60 c4x3 c2:1808 66 c4x3 c2=b5f83d33 c4x3 c3"
                                      << QStringList() << 0;
        QTest::newRow("framed empty")
            << true << QByteArray("") << Faults()
            << "c1 c4x3 c2=465047410000000099b6cbde c2=00000000 c4x3 c3" << QStringList() << 0;
        QTest::newRow("plain 10000")
            << false << i10k << Faults()
            << "c1 c4x3 c2:4096 47 c4x3 c2:4096 60 c4x3 c2:1808 66 c4x3 c3" << QStringList() << 0;
        QTest::newRow("framed missing")
            << true << QByteArray() << Faults() << "c1" << missing << -1;
        QTest::newRow("plain missing")
            << false << QByteArray() << Faults() << "c1" << missing << -1;
        QTest::newRow("start stalls")
            << true << i10k << Faults {{0xC1, 1, 1, LIBUSB_ERROR_PIPE}} << "c1"
            << QStringList {"Error: failed to start FPGA reflashing: LIBUSB_ERROR_PIPE"} << -9;
        QTest::newRow("header stalls")
            << true << i10k << Faults {{0xC2, 1, 1, LIBUSB_ERROR_PIPE}} << "c1 c4x3 " + head10k
            << QStringList {"Error: failed to write FPGA header block:  LIBUSB_ERROR_PIPE"} << -9;
        QTest::newRow("plain chunk stalls: completion follows, the chunk's code wins")
            << false << i10k
            << Faults {{0xC2, 2, 1, LIBUSB_ERROR_PIPE}, {0xC3, 1, 1, LIBUSB_ERROR_TIMEOUT}}
            << "c1 c4x3 c2:4096 47 c4x3 c2:4096 c3"
            << QStringList {block, "Error: failed to complete FPGA reflash: LIBUSB_ERROR_TIMEOUT"}
            << -9;
        // The device takes the trailer for image data, so the completion finds no trailer.
        QTest::newRow("framed chunk stalls: trailer, poll, completion")
            << true << i10k << Faults {{0xC2, 3, 1, LIBUSB_ERROR_PIPE}}
            << "c1 c4x3 " + head10k + " c2:4096 47 c4x3 c2:4096 c2=1d5ec380 c4x3 c3"
            << QStringList {block, complete} << -9;
        QTest::newRow("framed trailer times out")
            << true << image(100) << Faults {{0xC2, 3, 1, LIBUSB_ERROR_TIMEOUT}}
            << "c1 c4x3 c2=4650474164000000cdd68f6a c2:100 66 c4x3 c2=6c66b867 c4 c3"
            << QStringList {"Error: failed FPGA CRC check: LIBUSB_ERROR_TIMEOUT", complete} << -7;
        QTest::newRow("status fails: no completion")
            << false << i10k << Faults {{0xC4, 4, 1, LIBUSB_ERROR_TIMEOUT}}
            << "c1 c4x3 c2:4096 47 c4"
            << QStringList {"Error: failed to request flash status for FPGA: LIBUSB_ERROR_TIMEOUT"}
            << -7;
        QTest::newRow("framed damaged member: no trailer, no completion")
            << true << damaged << Faults()
            << "c1 c4x3 c2=465047410020000079f086e6 c2:4096 50 c4x3 c2:4096 66 c4x3"
            << QStringList {"Error: failed to read FPGA image: CRC error"} << -1;
    }

    void flash()
    {
        QFETCH(bool, framed);
        QFETCH(QByteArray, member);
        QFETCH(Faults, faults);
        QFETCH(QString, trace);
        QFETCH(QStringList, errors);
        QFETCH(int, result);

        Rig rig("kestrel3.bin", member, faults);
        QVERIFY(rig.opened);
        vdev::NorbyFlash &flash = rig.device->flash();
        flash.setFpgaFormat(
            framed ? vdev::NorbyFlash::FpgaFormat::Framed : vdev::NorbyFlash::FpgaFormat::Plain);
        flash.setBusyPolls(2);

        const auto run = framed ? flashFpgaFramed : flashFpgaPlain;
        QCOMPARE(run(rig.context, 34, 66, "kestrel3.bin", rig.archive), result);
        QCOMPARE(rig.trace(), trace);
        QCOMPARE(rig.errors, errors);
        if (result < 0)
            return;
        QCOMPARE(bytesOf(flash.fpgaFlash()), member);
        if (framed)
            QVERIFY(QString::fromStdString(rig.log.progress())
                        .endsWith(QString("\nFPGA size: %1\n").arg(member.size())));
    }
};

QTEST_GUILESS_MAIN(tst_FpgaFlash)
#include "tst_fpgaflash.moc"
