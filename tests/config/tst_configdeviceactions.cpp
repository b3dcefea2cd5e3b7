#include "bustestcase.h"
#include "configrig.h"

#include <QtTest>

using configtest::Rig;
using configtest::wire;

namespace {

// The buffer of the next read completion that `spy` sees, within a bound.
ConfigDeviceDataPtr nextRead(QSignalSpy &spy)
{
    if (spy.isEmpty() && !spy.wait(5000))
        return {};
    return spy.takeFirst().at(1).value<ConfigDeviceDataPtr>();
}

} // namespace

class tst_ConfigDeviceActions : public testsupport::BusTestCase
{
    Q_OBJECT

private slots:
    void flagsWriteOnlyTheirThreeBits_data()
    {
        QTest::addColumn<int>("device");
        QTest::addColumn<QString>("switches"); // aspect ratio, performance, audio selector
        QTest::addColumn<QString>("written");

        QTest::newRow("all three") << 0x16 << "111"
                                   << "40 e3 0 0 1 1000: 16";
        QTest::newRow("0x08 is not the audio bit") << 0x0F << "110"
                                                   << "40 e3 0 0 1 1000: 06";
        QTest::newRow("foreign bits only") << 0xE9 << "000"
                                           << "40 e3 0 0 1 1000: 00";
    }

    void flagsWriteOnlyTheirThreeBits()
    {
        QFETCH(int, device);
        QFETCH(QString, switches);
        QFETCH(QString, written);

        Rig rig;
        rig.settings().setFlags(uint8_t(device));
        QSignalSpy read(&rig.flags, &ConfigDeviceBase::getRequestComplete);
        rig.flags.get(rig.desc);
        const std::optional<uint8_t> flags = DeviceFlagsAction::fromData(nextRead(read), 1);
        QVERIFY(flags);
        const bool aspect = *flags & DeviceFlags::KeepAspectRatio;
        const bool performance = *flags & DeviceFlags::PerformanceMode;
        const bool audio = *flags & DeviceFlags::AudioSelector;
        QCOMPARE(QString::asprintf("%d%d%d", aspect, performance, audio), switches);

        QSignalSpy done(&rig.flags, &ConfigDeviceBase::setRequestComplete);
        rig.flags.set(rig.desc, DeviceFlags::fromSwitches(aspect, performance, audio));
        QVERIFY(done.wait(5000));
        QCOMPARE(wire(rig.node),
            QStringList({QString::asprintf("c0 e2 0 0 1 1000: %02x", device), written}));
    }

    void userModesAreFiveBytes()
    {
        Rig rig;
        rig.settings().setUserMode(1, {0xE0, 0x01, 0x10, 0x01, 0x01});
        QSignalSpy read(&rig.modes, &ConfigDeviceBase::getRequestComplete);
        rig.modes.get(rig.desc, 0xB3, 1);
        const std::optional<UserMode> mode = UserModeAction::fromData(nextRead(read), 5);
        QVERIFY(mode);
        QCOMPARE(QString::asprintf("%dx%d %d", mode->width, mode->height, mode->disabled),
            QStringLiteral("480x272 1"));

        QSignalSpy written(&rig.modes, &ConfigDeviceBase::setRequestComplete);
        rig.modes.set(rig.desc, UserMode {1920, 1080, 0}, 0xB3, 2);
        QVERIFY(written.wait(5000));
        // The device has three modes and stalls a fourth.
        rig.modes.get(rig.desc, 0xB3, 3);
        QVERIFY(!nextRead(read));
        QCOMPARE(wire(rig.node),
            QStringList({"c0 b3 0 1 5 1000: e0 01 10 01 01", "40 b3 0 2 5 1000: 80 07 38 04 00",
                "c0 b3 0 3 5 1000: "}));
    }
};

QTEST_GUILESS_MAIN(tst_ConfigDeviceActions)
#include "tst_configdeviceactions.moc"
