#include "bustestcase.h"
#include "configdeviceactions.h"
#include "configdevicetask.h"
#include "configresults.h"
#include "devicescanner.h"
#include "norbydevice.h"
#include "quietlogs.h"
#include "scanrecorder.h"
#include "updatepackages.h"
#include "waitfor.h"

#include <QRegularExpression>
#include <QtTest>
#include <libusb.h>

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <optional>
#include <vector>

using namespace testsupport;
using namespace std::chrono_literals;
using vdev::NorbyDevice;
using vdev::NorbyState;

// Every control transfer of an update, a repair, a scan and a configuration request, failed in
// turn (an I/O error, a stall, a timeout, or the device gone), counted from a clean run. Whatever
// fails, a request ends with one error text the user can read, one completion, nothing left
// open, and a worker that takes the next request: an update or repair for a healthy device on
// another port, a scan or a configuration request for the same devices, replugged if they left.
//
// "unplug" at transfer i: the device leaves the bus right after its transfer i-1 (at 1: before
// the request starts). In a repair whose transfer i-1 starts the sandbox microcode, the device
// then stays away after its restart, and the search for it finds nothing. After the restart a
// repair flashes as an update does: its faults reach the second transfer to the restarted device,
// the rest of its path is the update rows'.
//
// LUMEXOR_FAULTMATRIX_LOG=1 keeps the product's debug output and USB logs.

namespace {

// Each kind of fault and what the faulted transfer returns.
const std::pair<const char *, int> kinds[]
    = {{"error", LIBUSB_ERROR_IO}, {"stall", LIBUSB_ERROR_PIPE}, {"timeout", LIBUSB_ERROR_TIMEOUT},
        {"unplug", LIBUSB_ERROR_NO_DEVICE}};

// Two flash chunks of each image, the last one short: a chunk between them would walk the
// first one's path.
const PackageImages images {patternBytes(4096 + 4, 1), patternBytes(4096 + 1024, 2)};
const UpdatePacing pacing {0ms, 0ms, 0ms, 2000ms}; // the devices restart at once
constexpr int runBoundMs = 10000;

// The texts a request may report: %c stands for the failed transfer's libusb result, by name,
// text or number, %r for the request code in decimal, %p for a bus and port path.
// What update/*.cpp says when one of its transfers fails; a text no transfer fault can cause
// (a package's, a driver's) is no right answer here either.
const QStringList updateTexts = {"Cannot Access Device. Administrative privilegies may be required",
    "Can't initiate EDID IO access (err: %c)", "Can't send EDID data to the device (err: %c)",
    "Can't finalize EDID IO access (err: %c)", "Error: failed to request flash status for FX3: %c",
    "Error: failed to request flash status for FPGA: %c",
    "Error: failed to write FPGA header block:  %c", "Error: failed FPGA CRC check: %c",
    "Error: failed to start FPGA reflashing: %c", "Error: failed to write FPGA block:  %c",
    "Error: failed to complete FPGA reflash: %c", "Error: failed to write microcode: %c",
    "Error: failed to start microcode: %c", "Error: failed to start microcode reflashing: %c",
    "Error: failed to write microcode block: %c", "Error: failed to complete microcode reflash: %c",
    "Error: the device did not come back after its restart (port %p, nor its companion port)",
    "Error: the device did not come back after its restart (port %p)"};

// config/configdevicetask.cpp.
const QStringList configTexts = {"Cannot access USB. Administrative rights may be required.",
    "Error retreiving config device data: req=%r, status: %c", "Error setting device flags: %c"};

const QStringList scanTexts
    = {"Access Denied: Administrative privilegies are required to access the device"};

// Why `event` ("... error: <text>") is not an acceptable report of a request `request` that
// failed with `code`: its text is none of `known`, or names another libusb result or request.
// Empty when fine.
QString judge(const QString &event, const QStringList &known, int code, int request)
{
    const QString text = event.mid(event.indexOf(QLatin1String("error: ")) + 7);
    const QString forms[] = {QString::fromUtf8(libusb_error_name(code)),
        QString::fromUtf8(libusb_strerror(code)), QString::number(code)};
    for (QString pattern : known) {
        pattern.replace("%r", QString::number(request));
        for (const QString &form : forms) {
            const QString filled = QString(pattern).replace("%c", form);
            const QRegularExpression port(
                QRegularExpression::anchoredPattern(QRegularExpression::escape(filled).replace(
                    QRegularExpression::escape("%p"), R"(\d+-\d+(\.\d+)*)")));
            if (filled == text || port.match(text).hasMatch())
                return QString();
        }
    }
    return QStringLiteral("'%1' is no known report of %2 (request %3)")
        .arg(text, forms[0])
        .arg(request);
}

// The fault of a row: the `occurrence`-th transfer of `request` on device `device` (a scan's),
// its `nth` transfer.
struct Fault {
    int nth = 0; // 0: the clean run
    int device = 0;
    uint8_t request = 0;
    int occurrence = 0;
    int kind = 0;

    int code() const { return kinds[kind].second; }
    bool unplug() const { return code() == LIBUSB_ERROR_NO_DEVICE; }
};

} // namespace

Q_DECLARE_METATYPE(Fault)

namespace {

void inject(vusb::NodeId node, const Fault &f)
{
    vusb::Bus &bus = vusb::Bus::instance();
    if (f.nth && !f.unplug())
        bus.failRequest(node, {f.request, f.occurrence, 1, f.code()});
    else if (f.nth == 1)
        bus.unplug(node);
    else if (f.nth > 1)
        bus.unplugAfterTransfers(node, f.nth - 1);
}

// Whether the fault hit the transfer it was meant for (an unplug: nothing more, or one that found
// the device gone): a row whose fault missed would prove nothing.
QString missed(vusb::NodeId node, const Fault &f)
{
    const std::vector<vusb::TransferRecord> log = vusb::Bus::instance().transfers(node);
    const auto at = size_t(f.nth - 1);
    const bool hit = f.nth == 0 || (f.unplug() && log.size() == at)
        || (log.size() > at && log[at].result == f.code()
            && (f.unplug() || log[at].request == f.request));
    return hit ? QString() : QStringLiteral("transfer %1 did not fail as meant").arg(f.nth);
}

// "Nothing left open": handles, claims and device lists at once (they are given back before a
// completion goes out), references back to `baseline` within a bound (a queued signal's copy of
// a description may still be on its way out), no misuse.
QString leftovers(int baseline)
{
    vusb::Bus &bus = vusb::Bus::instance();
    QString found = QString::fromStdString(bus.leakReport());
    found.remove(
        QRegularExpression(QStringLiteral("^\\d+ libusb_device reference\\S+ never released; ")));
    if (!waitFor([&] { return bus.liveReferences() == baseline; }, 5000))
        found += QStringLiteral("%1 reference(s), the test holds %2")
                     .arg(bus.liveReferences())
                     .arg(baseline);
    return found;
}

// One operation on its devices, and what its task sent in arrival order, as text ("... error:
// <text>" for an error). Run 0 is the request under test, run 1 the follow-up; `ends` counts the
// events up to each completion.
struct Rig : QObject {
    Rig(const QString &name, const QStringList &texts, int request = -1)
        : name(name)
        , texts(texts)
        , request(request)
    {
    }
    virtual void start(int run) = 0;
    // What is wrong with the results of `run` beyond the common checks.
    virtual QString wrong(int run, const Fault &f) = 0;

    void add(const QString &event, bool completes = false)
    {
        list << event;
        if (completes)
            ends << list.size();
    }
    bool waitFor(int runs)
    {
        return testsupport::waitFor([&] { return ends.size() >= runs; }, runBoundMs);
    }
    QStringList events(int run) const
    {
        const int from = run ? ends.value(run - 1) : 0;
        return list.mid(from, ends.value(run, list.size()) - from);
    }
    bool settled(int runs) const { return ends.size() == runs && ends.last() == list.size(); }
    QString unless(bool ok, const QString &what) const
    {
        return ok ? QString() : what + " in: " + list.join(QStringLiteral(" | "));
    }

    const QString name;
    const QStringList &texts;
    const int request; // the request code a text names
    bool anyErrors = false; // a failed scan may report any number of them
    bool repair = false; // faulted up to the second transfer after the restart
    bool replugged = false; // the faulted device, for the follow-up
    vusb::Bus &bus = vusb::Bus::instance();
    std::vector<vusb::NodeId> nodes; // the devices a fault may hit
    QStringList nodeNames; // how rows name them, when more than one
    QStringList list;
    QVector<int> ends;
};

struct UpdateOp {
    const char *name;
    const char *product;
    uint16_t family;
    NorbyState state;
    DeviceMode mode;
    bool edidOnly;
};

const UpdateOp updateOps[] = {
    {"framed", "kestrel3", 0x3600, NorbyState::Application, Normal, false},
    {"plain", "kestrel3_4k", 0x3630, NorbyState::Application, Normal, false},
    {"edid", "harrier3", 0x3660, NorbyState::Application, Normal, true},
    {"soft repair", "kestrel3", 0x3600, NorbyState::SoftRepair, SoftRepair, false},
    {"hard repair", "kestrel3_4k", 0x3630, NorbyState::BootLoader, HardRepair, false},
};

// The device under test behind the hub on port 2, a healthy application device of the same
// family on port 4 for the follow-up, both restarting at once; progress recorded as numbers, the
// end as "complete".
struct UpdateRig : Rig {
    UpdateRig(const UpdateOp &op, const QString &package)
        : Rig(op.name, updateTexts)
        , op(op)
        , package(package)
    {
        repair = op.state != NorbyState::Application;
        const Topology topology = Topology::build();
        nodes = {
            bus.plug(topology.hub, 2, norby(op.family, op.state, 0x2B77, vdev::Reenumeration {}))};
        desc = describe(nodes[0]);
        desc.mode = op.mode;
        healthyDesc = describe(bus.plug(topology.hub, 4, healthy));
        connect(&task, &UpdateTask::progress, this, [this](int p) { add(QString::number(p)); });
        connect(&task, &UpdateTask::error, this, [this](const QString &t) { add("error: " + t); });
        connect(&task, &UpdateTask::complete, this, [this] { add("complete", true); });
    }
    void start(int run) override { emit task.start(run ? healthyDesc : desc, package); }
    // Progress rises, to 100 unless the run failed; the follow-up starts at 1 and leaves the
    // package in the healthy device.
    QString wrong(int run, const Fault &f) override
    {
        QList<int> values;
        for (const QString &event : events(run)) {
            if (event != "complete" && !event.contains("error: "))
                values << event.toInt();
        }
        const bool rising = std::is_sorted(values.begin(), values.end())
            && (run == 0 && f.nth ? !values.contains(100) : values.endsWith(100));
        if (run == 0 || !rising)
            return unless(rising, "progress");
        const vdev::NorbyFlash &flash = healthy->flash();
        const QByteArray none;
        return unless(events(1).value(0) == "1"
                && bytesOf(flash.fx3Flash()) == (op.edidOnly ? none : images.microcode)
                && bytesOf(flash.fpgaFlash()) == (op.edidOnly ? none : images.fpga)
                && flash.edid() == images.edid,
            "the follow-up's start or flash");
    }

    const UpdateOp &op;
    const QString package;
    const std::shared_ptr<NorbyDevice> healthy
        = norby(op.family, NorbyState::Application, 0x2B77, vdev::Reenumeration {});
    DeviceDescription desc, healthyDesc;
    UpdateTask task {nullptr, pacing};
};

// Root 1, ports 1-4: a KESTREL3 in its application firmware, an OSPREYX3 that needs its driver
// installed first (so the scan takes a second pass), a KESTREL3 4K in soft repair and an FX3
// boot loader. Only the two application devices see transfers (the ping). Devices are recorded
// as "<vid>:<pid>".
struct ScanRig : Rig {
    ScanRig()
        : Rig(QStringLiteral("scan"), scanTexts)
    {
        anyErrors = true;
        nodeNames = QStringList {"app", "driver", "soft", "boot"};
        const Topology topology = Topology::build();
        const std::pair<uint16_t, NorbyState> devices[]
            = {{0x3600, NorbyState::Application}, {0x3620, NorbyState::Application},
                {0x3630, NorbyState::SoftRepair}, {0x3640, NorbyState::BootLoader}};
        for (const auto &[family, state] : devices)
            nodes.push_back(
                bus.plug(topology.root1, uint8_t(nodes.size() + 1), norby(family, state)));
        bus.requireDriver(nodes[1]);
        bus.scriptDriverInstall({0, 0}); // a second scan's when the first never reached it
        connect(&scanner, &DeviceScanner::newDevice, this, [this](const DeviceDescription &d) {
            add(QString::asprintf("%04x:%04x", d.vendorId, d.productId));
        });
        connect(&scanner, &DeviceScanner::error, this,
            [this](const QString &t) { add("error: " + t); });
        connect(&scanner, &DeviceScanner::complete, this, [this] { add("complete", true); });
    }
    void start(int) override { emit scanner.scan(); }
    // Every device once; after a fault, no device twice and the two without transfers.
    QString wrong(int run, const Fault &f) override
    {
        QStringList found = events(run).filter(QRegularExpression("^[0-9a-f]{4}:[0-9a-f]{4}$"));
        found.sort();
        if (found == QStringList {"04b4:00f3", "2b77:3601", "2b77:3621", "2b77:3630"})
            return QString();
        return unless(run == 0 && f.nth && found.removeDuplicates() == 0
                && found.contains("2b77:3630") && found.contains("04b4:00f3"),
            "devices");
    }

    DeviceScanner scanner;
};

// The flags read and written: a read or write of any block takes one of these two paths.
using ConfigOp = std::pair<const char *, bool>; // a write when true
const ConfigOp configOps[] = {{"flags read", false}, {"flags write", true}};

// One application device behind the hub with flags 0x12, and the engine as the window builds it:
// a task and its flags action, whose results are recorded as "get <hex> <size>", "set" and
// "error: <text>".
struct ConfigRig : Rig {
    explicit ConfigRig(const ConfigOp &op)
        : Rig(op.first, configTexts, op.second ? 0xE3 : 0xE2)
        , write(op.second)
    {
        nodes = {node};
        model->settings().setFlags(0x12);
        testsupport::recordConfigResults(flags, this,
            [this](uint8_t, const QString &line) { add(line, !line.startsWith("error: ")); });
    }

    void start(int run) override
    {
        const DeviceDescription d = run && replugged ? describe(node) : desc;
        write ? flags.set(d, 0x16) : flags.get(d);
    }

    // After a fault one error, then one completion (a failed read has no data); else the one
    // result of the request done right, checked against the device.
    QString wrong(int run, const Fault &f) override
    {
        const QStringList got = events(run);
        if (run == 0 && f.nth)
            return unless(got.size() == 2 && got[0].startsWith("error: ")
                    && (got[1] == "get null 0" || (write && got[1] == "set")),
                "results");
        uint8_t stored = 0;
        bus.locked([&] { stored = model->settings().flags(); });
        const QString expected = !write
            ? QString("get " + QByteArray(1, char(stored)).toHex() + " 1")
            : stored == 0x16 ? "set"
                             : "set, but the device did not store it";
        return unless(got == QStringList {expected}, expected + " expected");
    }

    const bool write;
    std::shared_ptr<NorbyDevice> model = norby(0x3620, NorbyState::Application);
    vusb::NodeId node = bus.plug(Topology::build().hub, 2, model);
    DeviceDescription desc = describe(node);
    ConfigDeviceTask task;
    DeviceFlagsAction flags {&task};
};

// The rows of one operation: its clean run, then each of its transfers failed in each way.
void addRows(int op, const Rig &clean)
{
    std::map<int, QByteArray> own; // each device's requests
    for (const vusb::TransferRecord &t : clean.bus.transfers()) {
        const auto at = std::find(clean.nodes.begin(), clean.nodes.end(), t.node);
        if (at != clean.nodes.end())
            own[int(at - clean.nodes.begin())] += char(t.request);
    }
    QTest::newRow(qPrintable(clean.name + " clean")) << op << Fault {};
    for (const auto &[device, requests] : own) {
        const QString where = clean.nodeNames.isEmpty() ? QString() : clean.nodeNames[device] + ' ';
        const int rows = clean.repair ? requests.lastIndexOf(char(0xA0)) + 3 : requests.size();
        for (int i = 0; i < rows; ++i) {
            const auto request = uint8_t(requests[i]);
            Fault f {i + 1, device, request, requests.left(i + 1).count(char(request)), 0};
            for (; f.kind < int(std::size(kinds)); ++f.kind) {
                QTest::newRow(qPrintable(QStringLiteral("%1 %2%3#%4 %5")
                                             .arg(clean.name, where)
                                             .arg(request, 2, 16, QLatin1Char('0'))
                                             .arg(f.occurrence)
                                             .arg(kinds[f.kind].first)))
                    << op << f;
            }
        }
    }
}

} // namespace

class tst_FaultMatrix : public BusTestCase
{
    Q_OBJECT

    std::array<ZipPackage, std::size(updateOps)> packages_;
    std::array<QString, std::size(updateOps)> paths_;
    std::optional<QuietLogs> quiet_;

    // The updates, the scan, the configuration requests.
    std::unique_ptr<Rig> makeRig(int op) const
    {
        constexpr int updates = int(std::size(updateOps));
        if (op < updates)
            return std::make_unique<UpdateRig>(updateOps[op], paths_[size_t(op)]);
        if (op == updates)
            return std::make_unique<ScanRig>();
        return std::make_unique<ConfigRig>(configOps[op - updates - 1]);
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<Fault>();
        for (size_t i = 0; i < std::size(updateOps); ++i) {
            paths_[i] = writeUpdatePackage(
                packages_[i], updateOps[i].product, updateOps[i].edidOnly ? "images" : "", images);
            QVERIFY(!paths_[i].isEmpty());
        }
        if (qEnvironmentVariableIsEmpty("LUMEXOR_FAULTMATRIX_LOG"))
            quiet_.emplace();
    }

    void cleanupTestCase() { quiet_.reset(); }

    void faults_data()
    {
        QTest::addColumn<int>("op");
        QTest::addColumn<Fault>("fault");
        for (int op = 0; op < int(std::size(updateOps) + 1 + std::size(configOps)); ++op) {
            vusb::Bus::instance().reset();
            const std::unique_ptr<Rig> clean = makeRig(op);
            clean->start(0);
            // One that does not complete fails in its own row.
            clean->waitFor(1);
            addRows(op, *clean);
        }
    }

    void faults()
    {
        QFETCH(int, op);
        QFETCH(Fault, fault);
        const std::unique_ptr<Rig> rig = makeRig(op);
        const vusb::NodeId node = rig->nodes.at(size_t(fault.device));
        inject(node, fault);
        const int baseline = rig->bus.liveReferences();
        // The faulted request, then the next one through the same task, which must go through;
        // anything the failed one sent after its completion would show up in it.
        for (int run = 0; run < 2; ++run) {
            if (run && !rig->bus.attached(node)) {
                rig->bus.replug(node);
                rig->replugged = true;
            }
            rig->start(run);
            QCOMPARE(rig->unless(rig->waitFor(run + 1), "no completion"), QString());
            if (run == 0)
                QCOMPARE(missed(node, fault), QString());
            QCOMPARE(rig->unless(rig->settled(run + 1), "not one completion"), QString());
            QCOMPARE(leftovers(baseline), QString());
            const QStringList errors = rig->events(run).filter(QStringLiteral("error: "));
            QCOMPARE(rig->unless(errors.size() == (run == 0 && fault.nth ? 1 : 0)
                             || (run == 0 && rig->anyErrors),
                         "not one error"),
                QString());
            for (const QString &error : errors)
                QCOMPARE(judge(error, rig->texts, fault.code(), rig->request), QString());
            QCOMPARE(rig->wrong(run, fault), QString());
        }
    }
};

QTEST_GUILESS_MAIN(tst_FaultMatrix)
#include "tst_faultmatrix.moc"
