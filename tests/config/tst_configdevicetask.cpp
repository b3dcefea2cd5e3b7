#include "bustestcase.h"
#include "configrig.h"

#include <QtTest>

#include <array>

using configtest::Recorder;
using configtest::Rig;

namespace {

enum class Fault { Unplugged, Stall, NoBuffer };

QString zeros(int count)
{
    return QByteArray(count, 0).toHex(' ');
}

const QString access = QStringLiteral("Cannot access USB. Administrative rights may be required.");

} // namespace

Q_DECLARE_METATYPE(Fault)

class tst_ConfigDeviceTask : public testsupport::BusTestCase
{
    Q_OBJECT

private slots:
    void actionsNeedATask()
    {
        QObject parent;
        const auto invalid = std::make_error_code(std::errc::invalid_argument);
        try {
            ConfigDeviceAction action(nullptr, &parent);
            QFAIL("no exception for a null task");
        } catch (const std::system_error &e) {
            QCOMPARE(e.code(), invalid);
            QCOMPARE(
                std::string(e.what()), "`task` argument can't be nullptr: " + invalid.message());
        }
        QVERIFY(parent.children().isEmpty());
        std::error_code ec;
        ConfigDeviceAction orphan(nullptr, ec);
        QCOMPARE(ec, invalid);
        // The queued signals need these names; the engine makes them known by itself.
        for (const char *name : {"ConfigDeviceDataPtr", "uint16_t", "uint8_t", "DeviceDescription"})
            QVERIFY2(QMetaType::type(name) != QMetaType::UnknownType, name);
    }

    void resultsReachOnlyTheAcceptingAction_data()
    {
        QTest::addColumn<int>("issuer"); // 0 flags, 1 input status, 2 user modes
        QTest::addColumn<bool>("write");
        QTest::addColumn<int>("request");
        QTest::addColumn<QByteArray>("data"); // the buffer: its size, and a write's bytes
        QTest::addColumn<int>("keeper"); // the action that passes the results on
        QTest::addColumn<QStringList>("lines");

        QTest::newRow("user mode read") << 2 << false << 0xB3 << QByteArray(5, 0) << 2
                                        << QStringList {"179 get e0 01 10 01 01 5"};
        QTest::newRow("flags write")
            << 0 << true << 0xE3 << QByteArray(1, 6) << 0 << QStringList {"227 set"};
        // The read-only block's SetRequest is 0: results for code 0 are the input status
        // action's, whoever asked.
        QTest::newRow("code 0") << 0 << false << 0 << QByteArray(1, 0) << 1
                                << QStringList {"0 error Error retreiving config device data: "
                                                "req=0, status: Pipe error",
                                       "0 get null 0"};
    }

    void resultsReachOnlyTheAcceptingAction()
    {
        QFETCH(int, issuer);
        QFETCH(bool, write);
        QFETCH(int, request);
        QFETCH(QByteArray, data);
        QFETCH(int, keeper);
        QFETCH(QStringList, lines);

        Rig rig;
        rig.settings().setUserMode(1, {0xE0, 0x01, 0x10, 0x01, 0x01});
        const std::array<ConfigDeviceBase *, 3> actions {&rig.flags, &rig.input, &rig.modes};
        Recorder recorders[] = {Recorder(rig.flags), Recorder(rig.input), Recorder(rig.modes)};
        const auto size = uint16_t(data.size());
        const ConfigDeviceDataPtr ptr = makeConfigDeviceData(size);
        std::copy(data.begin(), data.end(), ptr.data());
        const auto signal = write ? &ConfigDeviceBase::setConfigDeviceData
                                  : &ConfigDeviceBase::getConfigDeviceData;
        emit(actions.at(size_t(issuer))->*signal)(
            rig.desc, uint8_t(request), ptr, size, request == 0xB3, 0);
        QTRY_COMPARE_WITH_TIMEOUT(recorders[keeper].lines.size(), lines.size(), 5000);
        QVERIFY(rig.settle());

        for (int i = 0; i < 3; ++i)
            QCOMPARE(recorders[i].lines, i == keeper ? lines : QStringList());
        // Each result signal reached the filter of every action once.
        const std::vector<uint8_t> asked(size_t(lines.size()), uint8_t(request));
        QVERIFY(rig.flags.asked == asked && rig.input.asked == asked && rig.modes.asked == asked);
    }

    void failuresEndWithOneCompletion_data()
    {
        QTest::addColumn<bool>("write");
        QTest::addColumn<int>("request");
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QStringList>("lines");

        // A write that cannot open the device completes as a read without data.
        QTest::newRow("read, unplugged") << false << 0xB2 << Fault::Unplugged
                                         << QStringList {"178 error " + access, "178 get null 0"};
        QTest::newRow("write, unplugged") << true << 0xE3 << Fault::Unplugged
                                          << QStringList {"227 error " + access, "227 get null 0"};
        QTest::newRow("read, stalled") << false << 0xB2 << Fault::Stall
                                       << QStringList {"178 error Error retreiving config device "
                                                       "data: req=178, status: Pipe error",
                                              "178 get null 0"};
        QTest::newRow("write, stalled")
            << true << 0xB3 << Fault::Stall
            << QStringList {"179 error Error setting device flags: Pipe error", "179 set"};
        QTest::newRow("read, no buffer") << false << 0xE2 << Fault::NoBuffer
                                         << QStringList {"226 error Error retreiving config device "
                                                         "data: req=226, status: Invalid parameter",
                                                "226 get null 0"};
    }

    void failuresEndWithOneCompletion()
    {
        QFETCH(bool, write);
        QFETCH(int, request);
        QFETCH(Fault, fault);
        QFETCH(QStringList, lines);

        Rig rig;
        Recorder recorder(*rig.task);
        // Five bytes fit every block; the size plays no part on these paths.
        ConfigDeviceDataPtr ptr = makeConfigDeviceData(5);
        if (fault == Fault::Unplugged)
            rig.bus.unplug(rig.node);
        else if (fault == Fault::Stall)
            rig.bus.failRequest(rig.node, {uint8_t(request), 1, 1, vdev::Pipe});
        else
            ptr.reset();
        const auto signal = write ? &ConfigDeviceBase::setConfigDeviceData
                                  : &ConfigDeviceBase::getConfigDeviceData;
        emit(rig.task.get()->*signal)(rig.desc, uint8_t(request), ptr, 5, 0, 0);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.lines.size(), lines.size(), 5000);
        QVERIFY(rig.settle());
        QCOMPARE(recorder.lines, lines);
    }

    void requestsRunInOrderEachWithItsOwnOpen()
    {
        Rig rig;
        Recorder recorder(*rig.task);
        rig.flags.get(rig.desc);
        rig.input.get(rig.desc);
        rig.modes.get(rig.desc, 0xB3, 2);
        rig.modes.set(rig.desc, UserMode {640, 480, 0}, 0xB3, 1);
        rig.flags.set(rig.desc, 0x04);
        rig.modes.get(rig.desc, 0xB3, 1);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.lines.size(), 6, 5000);

        QCOMPARE(recorder.lines,
            QStringList({"226 get 00 1", "178 get " + zeros(29) + " 29", "179 get 00 00 00 00 00 5",
                "179 set", "227 set", "179 get 80 02 e0 01 00 5"}));
        QCOMPARE(configtest::wire(rig.node),
            QStringList({"c0 e2 0 0 1 1000: 00", "c0 b2 0 0 29 1000: " + zeros(29),
                "c0 b3 0 2 5 1000: 00 00 00 00 00", "40 b3 0 1 5 1000: 80 02 e0 01 00",
                "40 e3 0 0 1 1000: 04", "c0 b3 0 1 5 1000: 80 02 e0 01 00"}));
        QCOMPARE(rig.bus.openCalls(rig.node), 6);
    }

    void destroyingTheTaskWaitsForTheRunningRequest()
    {
        Rig rig;
        rig.settings().setAnswerDelay(std::chrono::milliseconds(300));
        rig.flags.get(rig.desc);
        // Once the device is open the worker is inside the request.
        QTRY_COMPARE_WITH_TIMEOUT(rig.bus.openCalls(rig.node), 1, 5000);
        rig.task.reset();
        QCOMPARE(configtest::wire(rig.node), QStringList {"c0 e2 0 0 1 1000: 00"});
        QCOMPARE(rig.bus.openHandles(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_ConfigDeviceTask)
#include "tst_configdevicetask.moc"
