#include "edidtext.h"
#include "edidupload.h"
#include "flashrig.h"
#include "textimage.h"

using namespace flashtest;

namespace {

QByteArray text(const std::vector<uint8_t> &bytes)
{
    return QByteArray::fromStdString(testsupport::edidText(bytes));
}

Faults fail(uint8_t request, int error)
{
    return {{request, 1, 1, error}};
}

} // namespace

class tst_EdidUpload : public BusTest
{
    Q_OBJECT

private slots:
    void upload_data()
    {
        QTest::addColumn<QByteArray>("member");
        QTest::addColumn<int>("start");
        QTest::addColumn<Faults>("faults");
        QTest::addColumn<QString>("trace");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("accessOpen");

        const QByteArray good = text(testsupport::makeEdid(2));
        std::vector<uint8_t> badSum = testsupport::makeEdid(2);
        badSum[200] ^= 1;

        QTest::newRow("two blocks") << good << 80 << Faults() << "84 88 cf 92 d2:256 96 d4 100"
                                    << "" << false;
        QTest::newRow("range below five steps")
            << text(testsupport::makeEdid(1)) << 97 << Faults() << "97 97 cf 97 d2:128 97 d4 97"
            << "" << false;
        QTest::newRow("missing") << QByteArray() << 80 << Faults() << ""
                                 << "Can't open EDID file" << false;
        QTest::newRow("damaged member") << damaged << 80 << Faults() << ""
                                        << "Can't read EDID file" << false;
        QTest::newRow("bad checksum") << text(badSum) << 80 << Faults() << "84"
                                      << "EDID data has incorrect checksum" << false;
        // Read only as far as the parser needs to refuse it, which the echo shows.
        QTest::newRow("text past the limit")
            << good + QByteArray(int(2 * textImageMaxTextSize), ' ') << 80 << Faults() << "84"
            << "EDID data has incorrect format" << false;
        QTest::newRow("NUL bytes past the limit")
            << good + QByteArray(int(2 * textImageMaxTextSize), '\0') << 80 << Faults() << "84"
            << "EDID data has incorrect format" << false;
        QTest::newRow("begin stalls") << good << 80 << fail(0xCF, LIBUSB_ERROR_PIPE) << "84 88 cf"
                                      << "Can't initiate EDID IO access (err: -9)" << false;
        QTest::newRow("write times out: access left open")
            << good << 80 << fail(0xD2, LIBUSB_ERROR_TIMEOUT) << "84 88 cf 92 d2:256"
            << "Can't send EDID data to the device (err: -7)" << true;
        // The closing request never reached the device, so its access is still open.
        QTest::newRow("end stalls")
            << good << 80 << fail(0xD4, LIBUSB_ERROR_PIPE) << "84 88 cf 92 d2:256 96 d4"
            << "Can't finalize EDID IO access (err: -9)" << true;
    }

    void upload()
    {
        QFETCH(QByteArray, member);
        QFETCH(int, start);
        QFETCH(Faults, faults);
        QFETCH(QString, trace);
        QFETCH(QString, error);
        QFETCH(bool, accessOpen);

        Rig rig("edid_kestrel3_uvc.edid", member, faults);
        QVERIFY(rig.opened);
        const int result
            = uploadEdid(rig.context, start, 100, "edid_kestrel3_uvc.edid", rig.archive);
        QCOMPARE(result, error.isEmpty() ? 0 : -1);
        QCOMPARE(rig.trace(ControlRequest::EdidTimeoutMs), trace);
        QCOMPARE(rig.errors.join('\n'), error);
        const vdev::NorbyFlash &flash = rig.device->flash();
        QCOMPARE(flash.edidAccessOpen(), accessOpen);
        QCOMPARE(text(flash.edid()), result == 0 ? member : text({}));
        QVERIFY(rig.log.errors().size() < textImageMaxTextSize + 1000);
    }

    // The parser hands over no more than 32 KiB; the transfer's own limit holds all the same.
    void imageBeyondOneTransfer()
    {
        Rig rig("", QByteArray());
        QCOMPARE(sendEdid(rig.context, 80, 100, std::vector<uint8_t>(65536)), -1);
        QCOMPARE(rig.errors, QStringList {"EDID data is too large to send: 65536 bytes"});
        QCOMPARE(rig.trace(), QString());
    }
};

QTEST_GUILESS_MAIN(tst_EdidUpload)
#include "tst_edidupload.moc"
