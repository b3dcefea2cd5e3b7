#include "bustestcase.h"
#include "configdeviceactions.h"
#include "configdevicetask.h"
#include "configresults.h"
#include "contexttranslator.h"
#include "deviceplacelock.h"
#include "inputstatustext.h"
#include "norbydevice.h"

#include <QtTest>

#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// A request the device stalls and no action accepts. Sent after the requests under test, its
// completion proves that all they had to report has arrived: the worker runs requests in
// order, and its signals arrive in order.
constexpr uint8_t Sentinel = 0x01;

// The result signals of one engine object in arrival order, as text, without the sentinel's.
struct Recorder : QObject {
    explicit Recorder(ConfigDeviceBase &source)
    {
        testsupport::recordConfigResults(
            source, this, [this](uint8_t request, const QString &line) {
                if (request != Sentinel)
                    lines << QString::number(request) + ' ' + line;
            });
    }
    QStringList lines;
};

// An action that notes every request code its filter is asked about.
template<typename Action> struct Watching : Action {
    using Action::Action;
    bool acceptsRequest(uint8_t request) const override
    {
        if (request != Sentinel)
            asked.push_back(request);
        return Action::acceptsRequest(request);
    }
    mutable std::vector<uint8_t> asked;
};

// One application-firmware device behind a hub, and the engine as the main window builds it:
// one task, three actions.
struct Rig {
    vusb::Bus &bus = vusb::Bus::instance();
    std::shared_ptr<vdev::NorbyDevice> model
        = vdev::NorbyDevice::make(0x3620, vdev::NorbyState::Application);
    vusb::NodeId node = bus.plug(testsupport::Topology::build().hub, 2, model);
    DeviceDescription desc = testsupport::describe(node);
    std::unique_ptr<ConfigDeviceTask> task = std::make_unique<ConfigDeviceTask>();
    Watching<DeviceFlagsAction> flags {task.get()};
    Watching<InputStatusAction> input {task.get()};
    Watching<UserModeAction> modes {task.get()};

    vdev::NorbySettings &settings() { return model->settings(); }

    // True once the sentinel has gone through the task, within a bound.
    bool settle()
    {
        bool done = false;
        QObject scope; // the connection goes with `done`
        QObject::connect(task.get(), &ConfigDeviceBase::getRequestComplete, &scope,
            [&done](uint8_t request) { done = done || request == Sentinel; });
        emit task->getConfigDeviceData(desc, Sentinel, makeConfigDeviceData(1), 1, 0, 0);
        return QTest::qWaitFor([&done] { return done; }, 5000);
    }
};

// KernelDriver: one is bound to the interface. PlaceHeld: this process holds the device's
// place for another request a moment longer; PlaceUpdating: for an update.
enum class Fault { None, Unplugged, Stall, NoBuffer, KernelDriver, PlaceHeld, PlaceUpdating };

// A status as the device sends it; a text as long as its field has no NUL.
QByteArray record(const char *description, const char *label, uint32_t milliHz, uint16_t width,
    uint16_t height, uint8_t interlaced = 0)
{
    InputStatusInfo info {{}, {}, milliHz, width, height, interlaced};
    std::memcpy(
        info.description, description, std::min(std::strlen(description), sizeof info.description));
    std::memcpy(info.label, label, std::min(std::strlen(label), sizeof info.label));
    return QByteArray(reinterpret_cast<const char *>(&info), sizeof info);
}

const QString access = QStringLiteral("Cannot access USB. Administrative rights may be required.");

} // namespace

Q_DECLARE_METATYPE(Fault)

// The configuration engine (one task, the actions on it) and the text of the input status.
class tst_Config : public testsupport::BusTestCase
{
    Q_OBJECT

private slots:
    void actionsNeedATask()
    {
        QObject parent;
        const auto invalid = std::make_error_code(std::errc::invalid_argument);
        QVERIFY_EXCEPTION_THROWN(ConfigDeviceAction(nullptr, &parent), std::system_error);
        QVERIFY(parent.children().isEmpty()); // nothing half-built left behind
        std::error_code ec;
        ConfigDeviceAction orphan(nullptr, ec);
        QCOMPARE(ec, invalid);
    }

    // Every result reaches the filter of every action once, and passes only the one that
    // accepts its request code; a failure ends with one completion after its error.
    void results_data()
    {
        QTest::addColumn<int>("issuer"); // 0 flags, 1 input status, 2 user modes
        QTest::addColumn<bool>("write");
        QTest::addColumn<int>("request");
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("keeper"); // the action that passes the results on
        QTest::addColumn<QStringList>("lines");

        const auto row = [](const char *name, int issuer, bool write, int request, Fault fault,
                             int keeper, const QStringList &lines) {
            QTest::newRow(name) << issuer << write << request << fault << keeper << lines;
        };
        const QString retrieving = "error: Error retreiving config device data: req=%1, status: ";
        // The read-only block's SetRequest is 0: results for code 0 are the input status
        // action's, whoever asked.
        row("code 0", 0, false, 0, Fault::None, 1,
            {"0 " + retrieving.arg(0) + "Pipe error", "0 get null 0"});
        // A write that cannot open the device completes as a read without data.
        row("write, unplugged", 0, true, 0xE3, Fault::Unplugged, 0,
            {"227 error: " + access, "227 get null 0"});
        row("write, stalled", 2, true, 0xB3, Fault::Stall, 2,
            {"179 error: Error setting device flags: Pipe error", "179 set"});
        row("read, no buffer", 0, false, 0xE2, Fault::NoBuffer, 0,
            {"226 " + retrieving.arg(226) + "Invalid parameter", "226 get null 0"});
        // Beside the video driver, which keeps the interface all along.
        row("write beside a kernel driver", 2, true, 0xB3, Fault::KernelDriver, 2, {"179 set"});
        row("read beside a kernel driver", 0, false, 0xE2, Fault::KernelDriver, 0,
            {"226 get 00 00 00 00 00 5"});
        // A request waits for another one's place, but not for an update's.
        row("read after another request", 0, false, 0xE2, Fault::PlaceHeld, 0,
            {"226 get 00 00 00 00 00 5"});
        row("write during an update", 0, true, 0xE3, Fault::PlaceUpdating, 0,
            {"227 error: Device busy: tst_config (process "
                    + QString::number(QCoreApplication::applicationPid())
                    + ") is using it for: firmware update",
                "227 get null 0"});
    }

    void results()
    {
        QFETCH(int, issuer);
        QFETCH(bool, write);
        QFETCH(int, request);
        QFETCH(Fault, fault);
        QFETCH(int, keeper);
        QFETCH(QStringList, lines);

        Rig rig;
        const std::array<ConfigDeviceBase *, 3> actions {&rig.flags, &rig.input, &rig.modes};
        Recorder recorders[] = {Recorder(rig.flags), Recorder(rig.input), Recorder(rig.modes)};
        ConfigDeviceDataPtr ptr = makeConfigDeviceData(5); // fits every block
        if (fault == Fault::Unplugged)
            rig.bus.unplug(rig.node);
        else if (fault == Fault::Stall)
            rig.bus.failRequest(rig.node, {uint8_t(request), 1, 1, vdev::Pipe});
        else if (fault == Fault::NoBuffer)
            ptr.reset();
        rig.bus.setKernelDriverActive(rig.node, fault == Fault::KernelDriver);
        DevicePlaceLock place;
        if (fault == Fault::PlaceHeld || fault == Fault::PlaceUpdating)
            place.acquire(DevicePlaceLock::placeName(rig.desc.busNumber, rig.desc.portPath),
                fault == Fault::PlaceHeld ? DevicePlaceLock::Request : DevicePlaceLock::Update, {});
        if (fault == Fault::PlaceHeld)
            QTimer::singleShot(200, [&place] { place.release(); });
        const auto signal = write ? &ConfigDeviceBase::setConfigDeviceData
                                  : &ConfigDeviceBase::getConfigDeviceData;
        emit(actions.at(size_t(issuer))->*signal)(rig.desc, uint8_t(request), ptr, 5, 0, 0);
        QTRY_COMPARE_WITH_TIMEOUT(recorders[keeper].lines.size(), lines.size(), 5000);
        QVERIFY(rig.settle());

        for (int i = 0; i < 3; ++i)
            QCOMPARE(recorders[i].lines, i == keeper ? lines : QStringList());
        QCOMPARE(rig.bus.kernelDriverDetaches(rig.node), 0);
        if (fault != Fault::Unplugged)
            QCOMPARE(testsupport::kernelDriverActive(rig.node), int(fault == Fault::KernelDriver));
        const std::vector<uint8_t> asked(size_t(lines.size()), uint8_t(request));
        QVERIFY(rig.flags.asked == asked && rig.input.asked == asked && rig.modes.asked == asked);
    }

    // Each request opens the device on its own, and the actions' requests share one queue. How
    // the window shows user modes and what a failed one stops: tests/ui/tst_devicepages.
    void requestsRunInOrderEachWithItsOwnOpen()
    {
        const QString zeros = QByteArray(29, 0).toHex(' ');
        Rig rig;
        Recorder recorder(*rig.task);
        rig.flags.get(rig.desc);
        rig.input.get(rig.desc);
        rig.modes.set(rig.desc, UserMode {640, 480, 0}, 0xB3, 1);
        rig.flags.set(rig.desc, 0x04);
        rig.modes.get(rig.desc, 0xB3, 1);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.lines.size(), 5, 5000);
        QCOMPARE(recorder.lines,
            QStringList({"226 get 00 1", "178 get " + zeros + " 29", "179 set", "227 set",
                "179 get 80 02 e0 01 00 5"}));
        QCOMPARE(testsupport::wire(rig.node),
            QStringList({"c0 e2 0 0 1 1000: 00", "c0 b2 0 0 29 1000: " + zeros,
                "40 b3 0 1 5 1000: 80 02 e0 01 00", "40 e3 0 0 1 1000: 04",
                "c0 b3 0 1 5 1000: 80 02 e0 01 00"}));
        QCOMPARE(rig.bus.openCalls(rig.node), 5);
    }

    void destroyingTheTaskWaitsForTheRunningRequest()
    {
        Rig rig;
        rig.settings().setAnswerDelay(std::chrono::milliseconds(300));
        rig.flags.get(rig.desc);
        // Once the device is open the worker is inside the request.
        QTRY_COMPARE_WITH_TIMEOUT(rig.bus.openCalls(rig.node), 1, 5000);
        rig.task.reset();
        QCOMPARE(testsupport::wire(rig.node), QStringList {"c0 e2 0 0 1 1000: 00"});
    }

    void formatsTheSignalLine_data()
    {
        QTest::addColumn<QByteArray>("raw"); // null: a completion without data
        QTest::addColumn<QString>("text");

        // A plain signal, a fractional rate, interlacing and a failed read: the window's
        // (tests/ui/tst_devicepages); here the edges.
        QTest::newRow("empty texts")
            << record("", "", 60000, 1280, 720) << "unknown 1280x720p@60, unknown";
        // Neither text may run on into the field behind it.
        QTest::newRow("full fields") << record("ABCDEFGHIJKL", "LABEL678", 60000, 640, 480)
                                     << "LABEL678 640x480p@60, ABCDEFGHIJKL";
        QTest::newRow("percent signs")
            << record("%1", "%6", 60000, 640, 480) << "%6 640x480p@60, %1";
        QTest::newRow("59.94") << record("Q", "P", 59940, 1920, 1080) << "P 1920x1080p@59.94, Q";
        QTest::newRow("50i") << record("Q", "P", 50000, 720, 576, 1) << "P 720x576i@50, Q";
        QTest::newRow("width 0") << record("Q", "P", 60000, 0, 1080) << "no signal";
        QTest::newRow("height 0") << record("Q", "P", 60000, 1920, 0) << "no signal";
        QTest::newRow("rate 0") << record("Q", "P", 0, 1920, 1080) << "no signal";
        QTest::newRow("short") << record("Q", "P", 60000, 1920, 1080).left(28)
                               << "request not supported";
    }

    void formatsTheSignalLine()
    {
        QFETCH(QByteArray, raw);
        QFETCH(QString, text);

        ConfigDeviceDataPtr ptr;
        if (!raw.isNull()) {
            ptr = makeConfigDeviceData(uint16_t(raw.size()));
            std::memcpy(ptr.data(), raw.constData(), size_t(raw.size()));
        }
        QCOMPARE(inputStatusText(ptr, uint16_t(raw.size())), text);

        // The window's own texts are translated in its context; the line itself is not.
        testsupport::ContextTranslator translator;
        QCoreApplication::installTranslator(&translator);
        const QString translated = inputStatusText(ptr, uint16_t(raw.size()));
        QCoreApplication::removeTranslator(&translator);
        const bool own = text == "no signal" || text == "request not supported";
        QCOMPARE(translated, own ? "UpdateRepair|" + text : text);
    }
};

QTEST_GUILESS_MAIN(tst_Config)
#include "tst_config.moc"
