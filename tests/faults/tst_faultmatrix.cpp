#include "bootimage.h"
#include "bustestcase.h"
#include "bytes.h"
#include "configdeviceactions.h"
#include "configdevicetask.h"
#include "devicescanner.h"
#include "edidtext.h"
#include "norbydevice.h"
#include "producttable.h"
#include "updatetask.h"
#include "zippackage.h"

#include <QRegularExpression>
#include <QtTest>
#include <libusb.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <memory>
#include <streambuf>
#include <vector>

using namespace testsupport;
using namespace std::chrono_literals;
using vdev::NorbyDevice;
using vdev::NorbyState;

// Every control transfer of an update, a repair, a scan and a configuration request, failed in
// turn: the transfer count N of a clean run is taken from the bus, and each transfer 1..N is then
// made to fail once (an I/O error, a stall, a timeout, or the device gone). Whatever fails, a
// request ends with one error text the user can read, one completion, nothing left open, and a
// worker that takes the next request.
//
// "unplug" at transfer i: the device leaves the bus right after its transfer i-1
// (unplugAfterTransfers), so transfer i sees no device. For i = 1, which has no transfer before
// it, the device is gone before the request starts: the open finds nothing. In a repair, when
// transfer i-1 is the start request of the sandbox microcode the device leaves the bus for its
// restart anyway; the unplug then keeps it away for good, and the search for the restarted
// device finds nothing. The follow-up update or repair goes to a healthy device on another port;
// the follow-up scan or configuration request to the same devices, the unplugged one replugged.
//
// LUMEXOR_FAULTMATRIX_LOG=1 keeps the product's debug output and logs; LUMEXOR_FAULTMATRIX_EVENTS=1
// prints the signals of every failed update run.

namespace {

enum class Kind { Error, Stall, Timeout, Unplug };

const char *const kindNames[] = {"error", "stall", "timeout", "unplug"};
const Kind kinds[] = {Kind::Error, Kind::Stall, Kind::Timeout, Kind::Unplug};

// What a faulted transfer returns.
int codeOf(Kind kind)
{
    switch (kind) {
    case Kind::Error:
        return LIBUSB_ERROR_IO;
    case Kind::Stall:
        return LIBUSB_ERROR_PIPE;
    case Kind::Timeout:
        return LIBUSB_ERROR_TIMEOUT;
    case Kind::Unplug:
        break;
    }
    return LIBUSB_ERROR_NO_DEVICE;
}

constexpr uint32_t loadAddress = 0x40000000;
const QByteArray microcode = patternBytes(8 * 1024 + 4, 1);
const QByteArray fpga = patternBytes(9 * 1024, 2);
const QByteArray sandboxCode = patternBytes(600, 3);
const std::vector<uint8_t> edid = makeEdid(2, 4);
const UpdatePacing pacing {0ms, 100ms, 0ms, 2000ms}; // the device restarts in 20 ms
constexpr int runBoundMs = 10000;

// By NorbyState: Application, SoftRepair, Sandbox, BootLoader.
const DeviceMode modeOf[] = {Normal, SoftRepair, DirectUpdate, HardRepair};

// Text templates; a capture group `code`, where present, is the libusb result the text names.
using Templates = std::vector<QRegularExpression>;

Templates templates(std::initializer_list<const char *> patterns)
{
    Templates out;
    for (const char *p : patterns)
        out.emplace_back(QString::fromUtf8(p));
    return out;
}

// The texts of update/*.cpp (translate("Worker", ...) and tr(...)).
const Templates updateTexts = templates({
    "^Cannot open firmware package: .+$",
    "^Cannot Access Device\\. Administrative privilegies may be required$",
    "^Selected device and firmware incompatible$",
    "^Unsupported product: '.*'$",
    "^Product info file found but can't be opened: .+$",
    "^Can't read Product info file: .+$",
    "^Invalid firmware package\\. File\\(s\\) not found: .+$",
    "^Can't open EDID file$",
    "^Can't read EDID file$",
    "^EDID data has incorrect format$",
    "^EDID data has incorrect checksum$",
    "^EDID data is empty$",
    "^EDID data is too large to send: \\d+ bytes$",
    "^Can't initiate EDID IO access \\(err: (?<code>-?\\d+)\\)$",
    "^Can't send EDID data to the device \\(err: (?<code>-?\\d+)\\)$",
    "^Can't finalize EDID IO access \\(err: (?<code>-?\\d+)\\)$",
    "^Error: failed to request flash status for (FX3|FPGA): (?<code>.+)$",
    "^Error: failed to write FPGA header block:  (?<code>.+)$",
    "^Error: failed FPGA CRC check: (?<code>.+)$",
    "^Error: failed to start FPGA reflashing: (?<code>.+)$",
    "^Error: failed to find FPGA image$",
    "^Error: FPGA image is too large: \\d+ bytes$",
    "^Error: failed to read FPGA image: .+$",
    "^Error: failed to write FPGA block:  (?<code>.+)$",
    "^Error: failed to complete FPGA reflash: (?<code>.+)$",
    "^Error: failed to read sandbox microcode: .+$",
    "^Error: sandbox microcode image is truncated$",
    "^Error: failed to write microcode: (?<code>.+)$",
    "^Fail to verify image$",
    "^Error: failed to open sandbox microcode: .+$",
    "^Error: failed to verify microcode signature$",
    "^Error: microcode section at 0x[0-9a-f]+ is too long: \\d+ bytes, at most \\d+$",
    "^FX3 checksum error$",
    "^Error: failed to start microcode: (?<code>.+)$",
    "^Error: microcode block does not aligned by 32 bit length: \\d+$",
    "^Error: failed to find microcode image: .+$",
    "^Error: failed to start microcode reflashing: (?<code>.+)$",
    "^Error: failed to read microcode image: .+$",
    "^Error: failed to write microcode block: (?<code>.+)$",
    "^Error: failed to complete microcode reflash: (?<code>.+)$",
    "^Access Denied: Administrative privilegies are required to access the device$",
    "^Error: Failed to install driver$",
    "^Error: Failed to init device for repair$",
});

// The texts of config/configdevicetask.cpp; `request` is the request code in decimal.
const Templates configTexts = templates({
    "^Cannot access USB\\. Administrative rights may be required\\.$",
    "^Error retreiving config device data: req=(?<request>\\d+), status: (?<code>.+)$",
    "^Error setting device flags: (?<code>.+)$",
});

// The scanner's one text.
const Templates scanTexts = templates({
    "^Access Denied: Administrative privilegies are required to access the device$",
});

// Why `text` is not an acceptable report of a request `request` that failed with `code`: it
// matches none of `known`, or it names another libusb result or request. Empty when fine.
QString judge(const QString &text, const Templates &known, int code, int request = -1)
{
    if (text.isEmpty())
        return QStringLiteral("empty error text");
    for (const QRegularExpression &pattern : known) {
        const QRegularExpressionMatch m = pattern.match(text);
        if (!m.hasMatch())
            continue;
        const QString named = m.captured(QStringLiteral("code"));
        const QStringList forms = {QString::fromUtf8(libusb_error_name(code)),
            QString::fromUtf8(libusb_strerror(code)), QString::number(code)};
        if (!named.isNull() && !forms.contains(named))
            return QStringLiteral("names '%1' where %2 failed").arg(named, forms.first());
        const QString req = m.captured(QStringLiteral("request"));
        if (!req.isNull() && req != QString::number(request))
            return QStringLiteral("names request %1 instead of %2").arg(req).arg(request);
        return QString();
    }
    return QStringLiteral("unknown text '%1'").arg(text);
}

// Where the fault of a row goes: the `occurrence`-th transfer of `request` on the device, which
// is its `nodeTransfer`-th transfer.
struct Injection {
    int index = 0; // transfer index in the clean run, 1-based; 0: no fault
    int request = 0;
    int occurrence = 0;
    int nodeTransfer = 0;
    Kind kind = Kind::Error;
};

} // namespace

Q_DECLARE_METATYPE(Injection)

namespace {

void inject(vusb::NodeId node, const Injection &f)
{
    vusb::Bus &bus = vusb::Bus::instance();
    if (f.index == 0)
        return;
    if (f.kind != Kind::Unplug)
        bus.failRequest(node, {uint8_t(f.request), f.occurrence, 1, codeOf(f.kind)});
    else if (f.nodeTransfer == 1)
        bus.unplug(node);
    else
        bus.unplugAfterTransfers(node, f.nodeTransfer - 1);
}

// "Nothing left open": handles, claims and device lists at once (they are given back before a
// completion goes out), references back to `baseline` within a bound (a queued signal's copy of
// a description may still be on its way out), no misuse.
QString leftovers(int baseline)
{
    vusb::Bus &bus = vusb::Bus::instance();
    QStringList found;
    if (bus.openHandles() != 0)
        found << QStringLiteral("%1 open handle(s)").arg(bus.openHandles());
    if (bus.claimedInterfaces() != 0)
        found << QStringLiteral("%1 claimed interface(s)").arg(bus.claimedInterfaces());
    if (bus.openDeviceLists() != 0)
        found << QStringLiteral("%1 device list(s)").arg(bus.openDeviceLists());
    if (!QTest::qWaitFor([&] { return bus.liveReferences() == baseline; }, 5000))
        found << QStringLiteral("%1 reference(s) where %2 are held by the test")
                     .arg(bus.liveReferences())
                     .arg(baseline);
    for (const std::string &m : bus.misuse())
        found << QString::fromStdString("misuse: " + m);
    return found.join(QStringLiteral("; "));
}

// Checks that the fault hit the transfer it was meant for, and that everything before it went
// as in the clean run.
QString hitCheck(
    const std::vector<vusb::TransferRecord> &log, const QByteArray &clean, const Injection &f)
{
    const int before = f.index - 1;
    if (int(log.size()) < before)
        return QStringLiteral("only %1 transfer(s) before the fault").arg(log.size());
    for (int j = 0; j < before; ++j) {
        if (log[size_t(j)].request != uint8_t(clean.at(j)))
            return QStringLiteral("transfer %1 differs from the clean run").arg(j + 1);
    }
    if (f.kind == Kind::Unplug) {
        // Nothing more, or a transfer that found the device gone.
        if (int(log.size()) > before && log[size_t(before)].result != LIBUSB_ERROR_NO_DEVICE)
            return QStringLiteral("transfer %1 still reached the device").arg(f.index);
        return QString();
    }
    if (int(log.size()) <= before)
        return QStringLiteral("transfer %1 never happened").arg(f.index);
    const vusb::TransferRecord &t = log[size_t(before)];
    if (t.request != f.request || t.result != codeOf(f.kind))
        return QStringLiteral("transfer %1 is %2 -> %3")
            .arg(f.index)
            .arg(t.request, 2, 16, QLatin1Char('0'))
            .arg(t.result);
    return QString();
}

// Adds the rows of one operation: a clean run, then every transfer of the clean run with every
// kind of fault. `nodes` names the device of each transfer (for a scan), `names` how a row names
// it.
void addRows(const QString &op, const QByteArray &requests, const QByteArray &nodes = {},
    const QStringList &names = {})
{
    QTest::newRow(qPrintable(op + " clean")) << op << Injection() << 0 << requests << nodes;
    std::map<std::pair<int, int>, int> occurrences; // (device, request)
    std::map<int, int> perNode;
    for (int i = 0; i < requests.size(); ++i) {
        const int node = nodes.isEmpty() ? 0 : nodes.at(i);
        const int request = uint8_t(requests.at(i));
        const int occurrence = ++occurrences[{node, request}];
        const int nodeTransfer = ++perNode[node];
        for (Kind kind : kinds) {
            const QString name = QStringLiteral("%1 %2%3#%4 %5")
                                     .arg(op, names.isEmpty() ? QString() : names.at(node) + ' ')
                                     .arg(request, 2, 16, QLatin1Char('0'))
                                     .arg(occurrence)
                                     .arg(kindNames[int(kind)]);
            QTest::newRow(qPrintable(name))
                << op << Injection {i + 1, request, occurrence, nodeTransfer, kind} << node
                << requests << nodes;
        }
    }
}

void addColumns()
{
    QTest::addColumn<QString>("op");
    QTest::addColumn<Injection>("fault");
    QTest::addColumn<int>("device"); // which device the fault is on (a scan's)
    QTest::addColumn<QByteArray>("clean"); // request codes of the clean run
    QTest::addColumn<QByteArray>("cleanNodes"); // and their devices (a scan's)
}

// --- updates and repairs -------------------------------------------------------------------

struct UpdateOp {
    const char *name;
    const char *product;
    uint16_t family;
    NorbyState state;
    bool edidOnly;
};

const UpdateOp updateOps[] = {
    {"framed", "kestrel3", 0x3600, NorbyState::Application, false},
    {"plain", "kestrel3_4k", 0x3630, NorbyState::Application, false},
    {"edid", "harrier3", 0x3660, NorbyState::Application, true},
    {"soft repair", "kestrel3", 0x3600, NorbyState::SoftRepair, false},
    {"hard repair", "kestrel3_4k", 0x3630, NorbyState::BootLoader, false},
};

const UpdateOp &updateOp(const QString &name)
{
    for (const UpdateOp &op : updateOps) {
        if (name == QLatin1String(op.name))
            return op;
    }
    qFatal("no operation %s", qPrintable(name));
}

// The signals of one UpdateTask, in arrival order: progress as numbers, "error: <text>",
// "complete".
struct UpdateEvents : QObject {
    explicit UpdateEvents(UpdateTask &task)
    {
        QObject::connect(&task, &UpdateTask::progress, this,
            [this](int percent) { list << QString::number(percent); });
        QObject::connect(&task, &UpdateTask::error, this,
            [this](const QString &text) { list << "error: " + text; });
        QObject::connect(&task, &UpdateTask::complete, this, [this] { list << "complete"; });
    }
    bool waitForCompletes(int count)
    {
        return QTest::qWaitFor([&] { return list.count("complete") >= count; }, runBoundMs);
    }
    QStringList list;
};

// The device under test behind the hub on port 2, a healthy application device of the same
// family on port 4 for the follow-up run.
struct UpdateRig {
    explicit UpdateRig(const UpdateOp &op)
    {
        const Topology topology = Topology::build();
        NorbyDevice::Config config;
        config.familyId = op.family;
        config.state = op.state;
        device = std::make_shared<NorbyDevice>(config);
        node = bus.plug(topology.hub, 2, device);
        healthy = NorbyDevice::make(op.family, NorbyState::Application);
        healthyNode = bus.plug(topology.hub, 4, healthy);
        desc = describe(node);
        desc.mode = modeOf[int(op.state)];
        healthyDesc = describe(healthyNode);
    }

    vusb::Bus &bus = vusb::Bus::instance();
    std::shared_ptr<NorbyDevice> device;
    std::shared_ptr<NorbyDevice> healthy;
    vusb::NodeId node = -1;
    vusb::NodeId healthyNode = -1;
    DeviceDescription desc;
    DeviceDescription healthyDesc;
};

// --- scans ---------------------------------------------------------------------------------

// Root 1, ports 1-4: a KESTREL3 in its application firmware, an OSPREYX3 that needs its
// driver installed first (so the scan takes a second pass), a KESTREL3 4K in soft repair and
// an FX3 boot loader. Only the two application devices see transfers (the ping).
const QStringList scanDeviceNames = {"app", "driver", "soft", "boot"};

struct ScanRig {
    ScanRig()
    {
        const Topology topology = Topology::build();
        nodes.push_back(
            bus.plug(topology.root1, 1, NorbyDevice::make(0x3600, NorbyState::Application)));
        nodes.push_back(
            bus.plug(topology.root1, 2, NorbyDevice::make(0x3620, NorbyState::Application)));
        nodes.push_back(
            bus.plug(topology.root1, 3, NorbyDevice::make(0x3630, NorbyState::SoftRepair)));
        nodes.push_back(
            bus.plug(topology.root1, 4, NorbyDevice::make(0x3640, NorbyState::BootLoader)));
        bus.requireDriver(nodes[1]);
        // One for the first scan; one for a second scan when the first never reached it.
        bus.scriptDriverInstall({0, 0});
    }
    vusb::Bus &bus = vusb::Bus::instance();
    std::vector<vusb::NodeId> nodes;
};

// What every scan reports once, whatever failed in an earlier one.
const QStringList everyScannedDevice = {"04b4:00f3", "2b77:3601", "2b77:3621", "2b77:3630"};

struct ScanEvents : QObject {
    explicit ScanEvents(DeviceScanner &scanner)
    {
        QObject::connect(
            &scanner, &DeviceScanner::newDevice, this, [this](const DeviceDescription &d) {
                list << QString::asprintf("device %04x:%04x", d.vendorId, d.productId);
            });
        QObject::connect(&scanner, &DeviceScanner::error, this,
            [this](const QString &text) { list << "error: " + text; });
        QObject::connect(&scanner, &DeviceScanner::complete, this, [this] { list << "complete"; });
    }
    bool waitForCompletes(int count)
    {
        return QTest::qWaitFor([&] { return list.count("complete") >= count; }, runBoundMs);
    }
    QStringList list;
};

// --- configuration requests ------------------------------------------------------------------

struct ConfigOp {
    const char *name;
    int action; // 0 flags, 1 input status, 2 user modes
    bool write;
    uint8_t request;
};

const ConfigOp configOps[] = {
    {"flags read", 0, false, 0xE2},
    {"flags write", 0, true, 0xE3},
    {"user mode read", 2, false, 0xB3},
    {"user mode write", 2, true, 0xB3},
    {"input status read", 1, false, 0xB2},
};

const ConfigOp &configOp(const QString &name)
{
    for (const ConfigOp &op : configOps) {
        if (name == QLatin1String(op.name))
            return op;
    }
    qFatal("no configuration request %s", qPrintable(name));
}

// Request code 0x01: no action takes it, the device stalls it. Its completion on the task
// proves that every result sent before it has arrived.
constexpr uint8_t Sentinel = 0x01;

// The results one action passes on, as text: "<request> get <hex> <size>", "<request> set",
// "<request> error <text>".
struct ConfigEvents : QObject {
    explicit ConfigEvents(ConfigDeviceBase &source)
    {
        QObject::connect(&source, &ConfigDeviceBase::getRequestComplete, this,
            [this](uint8_t request, const ConfigDeviceDataPtr &ptr, uint16_t size) {
                const QByteArray data(reinterpret_cast<const char *>(ptr.data()), ptr ? size : 0);
                list << QString::number(request) + " get "
                        + (ptr ? QString::fromLatin1(data.toHex()) : QStringLiteral("null")) + ' '
                        + QString::number(size);
            });
        QObject::connect(&source, &ConfigDeviceBase::setRequestComplete, this,
            [this](uint8_t request) { list << QString::number(request) + " set"; });
        QObject::connect(
            &source, &ConfigDeviceBase::error, this, [this](uint8_t request, const QString &text) {
                list << QString::number(request) + " error " + text;
            });
    }
    QStringList list;
};

// Qt's debug output goes nowhere unless LUMEXOR_FAULTMATRIX_LOG is set; the rest goes on to the
// test's own handler.
QtMessageHandler testHandler = nullptr;

void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type != QtDebugMsg && testHandler)
        testHandler(type, context, text);
}

} // namespace

class tst_FaultMatrix : public testsupport::BusTestCase
{
    Q_OBJECT

    std::vector<std::unique_ptr<ZipPackage>> packages_;
    std::map<std::string, QString> paths_; // by product, "+edid" for the EDID-only package
    std::map<QString, int> cases_; // fault cases run, by operation
    std::streambuf *cerr_ = nullptr;
    std::streambuf *clog_ = nullptr;

    struct Discard : std::streambuf {
        int overflow(int c) override { return traits_type::not_eof(c); }
    } discard_;

    QString package(const UpdateOp &op) const
    {
        return paths_.at(std::string(op.product) + (op.edidOnly ? "+edid" : ""));
    }

    void addPackage(const std::string &product, bool edidOnly)
    {
        const ProductInfo &row = productTable.at(product);
        auto zip = std::make_unique<ZipPackage>();
        zip->add("product.info", QByteArray::fromStdString(product) + '\n');
        if (!edidOnly) {
            zip->add(row.microcodeImage, microcode);
            zip->add(row.fpgaImage, fpga, ZipPackage::Deflated);
            zip->add(row.sandboxImage, bootImage({{loadAddress, sandboxCode}}, loadAddress));
        }
        zip->add(row.edidFile, edidText(edid));
        paths_[product + (edidOnly ? "+edid" : "")] = zip->write();
        packages_.push_back(std::move(zip));
    }

    void tally(const QString &op, const Injection &fault)
    {
        if (fault.index > 0)
            ++cases_[op];
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<Injection>();
        addPackage("kestrel3", false);
        addPackage("kestrel3_4k", false);
        addPackage("harrier3", true);
        for (const auto &[name, path] : paths_)
            QVERIFY2(!path.isEmpty(), name.c_str());
        // Hundreds of runs: the product's debug output and EDID echo would bury a failure.
        if (qEnvironmentVariableIsEmpty("LUMEXOR_FAULTMATRIX_LOG")) {
            cerr_ = std::cerr.rdbuf(&discard_);
            clog_ = std::clog.rdbuf(&discard_);
            testHandler = qInstallMessageHandler(quietHandler);
        }
    }

    void cleanupTestCase()
    {
        if (cerr_) {
            std::cerr.rdbuf(cerr_);
            std::clog.rdbuf(clog_);
            qInstallMessageHandler(testHandler);
        }
        int total = 0;
        for (const auto &[op, n] : cases_) {
            qInfo("fault cases: %s %d", qPrintable(op), n);
            total += n;
        }
        qInfo("fault cases: total %d", total);
    }

    void updates_data()
    {
        addColumns();
        vusb::Bus &bus = vusb::Bus::instance();
        for (const UpdateOp &op : updateOps) {
            // The clean run that the rows number their transfers by.
            QByteArray requests;
            bus.reset();
            {
                UpdateRig rig(op);
                UpdateTask task(nullptr, pacing);
                UpdateEvents events(task);
                emit task.start(rig.desc, package(op));
                if (!events.waitForCompletes(1))
                    qWarning("the clean %s run did not complete", op.name);
                for (const vusb::TransferRecord &t : bus.transfers(rig.node))
                    requests += char(t.request);
            }
            bus.reset();
            addRows(QString::fromLatin1(op.name), requests);
        }
    }

    void updates()
    {
        QFETCH(QString, op);
        QFETCH(Injection, fault);
        QFETCH(QByteArray, clean);
        const UpdateOp &operation = updateOp(op);
        tally(op, fault);
        UpdateRig rig(operation);
        inject(rig.node, fault);
        const int baseline = rig.bus.liveReferences();

        UpdateTask task(nullptr, pacing);
        UpdateEvents events(task);
        emit task.start(rig.desc, package(operation));
        QVERIFY2(events.waitForCompletes(1), qPrintable(events.list.join(' ')));
        const QString left = leftovers(baseline);
        QVERIFY2(left.isEmpty(), qPrintable(left));

        const QStringList first = events.list.mid(0, events.list.indexOf("complete") + 1);
        const QString seen = first.join(QStringLiteral(" | "));
        if (!qEnvironmentVariableIsEmpty("LUMEXOR_FAULTMATRIX_EVENTS"))
            qInfo("%s", qPrintable(seen));
        const QStringList errors = first.filter(QRegularExpression("^error: "));
        QList<int> values;
        for (const QString &event : first) {
            if (event != "complete" && !event.startsWith("error: "))
                values << event.toInt();
        }
        QVERIFY2(std::is_sorted(values.begin(), values.end()), qPrintable(seen));
        if (fault.index == 0) {
            QVERIFY2(errors.isEmpty(), qPrintable(seen));
            QVERIFY2(values.endsWith(100), qPrintable(seen));
            QCOMPARE(rig.bus.transfers(rig.node).size(), size_t(clean.size()));
        } else {
            const QString missed = hitCheck(rig.bus.transfers(rig.node), clean, fault);
            QVERIFY2(missed.isEmpty(), qPrintable(missed));
            QVERIFY2(errors.size() == 1, qPrintable("not one error: " + seen));
            const QString wrong = judge(errors.first().mid(7), updateTexts, codeOf(fault.kind));
            QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
            QVERIFY2(!values.contains(100), qPrintable(seen));
        }

        // The same task takes the next run, on the healthy device, and completes it once.
        emit task.start(rig.healthyDesc, package(operation));
        QVERIFY2(events.waitForCompletes(2), qPrintable(events.list.join(' ')));
        const QString leftAgain = leftovers(baseline);
        QVERIFY2(leftAgain.isEmpty(), qPrintable(leftAgain));
        // Anything the failed run sent after its completion would show up here, first.
        const QStringList second = events.list.mid(first.size());
        const QString seenAgain = second.join(QStringLiteral(" | "));
        QVERIFY2(second.value(0) == "1", qPrintable(seenAgain));
        QVERIFY2(second.filter(QRegularExpression("^error: ")).isEmpty(), qPrintable(seenAgain));
        QVERIFY2(
            second.count("complete") == 1 && second.endsWith("complete"), qPrintable(seenAgain));
        QVERIFY2(second.value(second.size() - 2) == "100", qPrintable(seenAgain));
        QCOMPARE(events.list.count("complete"), 2);
        vdev::NorbyFlash &flash = rig.healthy->flash();
        QCOMPARE(bytesOf(flash.fx3Flash()), operation.edidOnly ? QByteArray() : microcode);
        QCOMPARE(bytesOf(flash.fpgaFlash()), operation.edidOnly ? QByteArray() : fpga);
        QCOMPARE(flash.edid(), edid);
    }

    void scans_data()
    {
        addColumns();
        vusb::Bus &bus = vusb::Bus::instance();
        QByteArray requests;
        QByteArray nodes;
        bus.reset();
        {
            ScanRig rig;
            DeviceScanner scanner;
            ScanEvents events(scanner);
            emit scanner.scan();
            if (!events.waitForCompletes(1))
                qWarning("the clean scan did not complete");
            for (const vusb::TransferRecord &t : bus.transfers()) {
                requests += char(t.request);
                nodes += char(
                    std::find(rig.nodes.begin(), rig.nodes.end(), t.node) - rig.nodes.begin());
            }
        }
        bus.reset();
        addRows(QStringLiteral("scan"), requests, nodes, scanDeviceNames);
    }

    void scans()
    {
        QFETCH(QString, op);
        QFETCH(Injection, fault);
        QFETCH(int, device);
        QFETCH(QByteArray, clean);
        QFETCH(QByteArray, cleanNodes);
        tally(op, fault);
        ScanRig rig;
        const vusb::NodeId node = rig.nodes.at(size_t(device));
        inject(node, fault);

        auto scanner = std::make_unique<DeviceScanner>();
        ScanEvents events(*scanner);
        emit scanner->scan();
        QVERIFY2(events.waitForCompletes(1), qPrintable(events.list.join(' ')));
        const QString left = leftovers(0);
        QVERIFY2(left.isEmpty(), qPrintable(left));

        const QStringList first = events.list.mid(0, events.list.indexOf("complete") + 1);
        const QString seen = first.join(QStringLiteral(" | "));
        for (const QString &error : first.filter(QRegularExpression("^error: "))) {
            const QString wrong = judge(error.mid(7), scanTexts, codeOf(fault.kind));
            QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
        }
        // No device twice; those that see no transfer are there whatever failed.
        QStringList devices = first.filter(QRegularExpression("^device "));
        QVERIFY2(devices.removeDuplicates() == 0, qPrintable(seen));
        QVERIFY2(devices.contains("device 2b77:3630") && devices.contains("device 04b4:00f3"),
            qPrintable(seen));
        if (fault.index == 0) {
            QCOMPARE(devices.size(), everyScannedDevice.size());
        } else {
            // The scan's transfers, in order, on the faulted device and the rest alike.
            std::vector<vusb::TransferRecord> log;
            for (const vusb::TransferRecord &t : rig.bus.transfers()) {
                if (t.node == node)
                    log.push_back(t);
            }
            QByteArray own; // the clean run's transfers of the faulted device
            for (int j = 0; j < clean.size(); ++j) {
                if (cleanNodes.at(j) == device)
                    own += clean.at(j);
            }
            Injection onNode = fault;
            onNode.index = fault.nodeTransfer;
            const QString missed = hitCheck(log, own, onNode);
            QVERIFY2(missed.isEmpty(), qPrintable(missed));
        }

        // The next scan, with the device back if it left, finds every device once.
        if (!rig.bus.attached(node))
            rig.bus.replug(node);
        emit scanner->scan();
        QVERIFY2(events.waitForCompletes(2), qPrintable(events.list.join(' ')));
        const QStringList second = events.list.mid(first.size());
        const QString seenAgain = second.join(QStringLiteral(" | "));
        QVERIFY2(
            second.count("complete") == 1 && second.endsWith("complete"), qPrintable(seenAgain));
        QStringList found = second.filter(QRegularExpression("^device "));
        found.replaceInStrings(QRegularExpression("^device "), QString());
        found.sort();
        QVERIFY2(found == everyScannedDevice, qPrintable(seenAgain));
        scanner.reset();
        const QString leftAgain = leftovers(0);
        QVERIFY2(leftAgain.isEmpty(), qPrintable(leftAgain));
    }

    void configures_data()
    {
        addColumns();
        vusb::Bus &bus = vusb::Bus::instance();
        for (const ConfigOp &op : configOps) {
            QByteArray requests;
            bus.reset();
            {
                ConfigRig rig;
                ConfigEvents events(*rig.actions[size_t(op.action)]);
                rig.issue(op, rig.desc);
                if (!QTest::qWaitFor([&] { return !events.list.isEmpty(); }, runBoundMs))
                    qWarning("the clean %s did not complete", op.name);
                for (const vusb::TransferRecord &t : bus.transfers(rig.node))
                    requests += char(t.request);
            }
            bus.reset();
            addRows(QString::fromLatin1(op.name), requests);
        }
    }

    void configures()
    {
        QFETCH(QString, op);
        QFETCH(Injection, fault);
        QFETCH(QByteArray, clean);
        const ConfigOp &request = configOp(op);
        tally(op, fault);
        ConfigRig rig;
        std::vector<std::unique_ptr<ConfigEvents>> events;
        for (ConfigDeviceBase *action : rig.actions)
            events.push_back(std::make_unique<ConfigEvents>(*action));
        const QStringList &lines = events[size_t(request.action)]->list;
        inject(rig.node, fault);
        const int baseline = rig.bus.liveReferences();

        rig.issue(request, rig.desc);
        QVERIFY2(QTest::qWaitFor([&] { return lines.size() >= (fault.index ? 2 : 1); }, runBoundMs),
            qPrintable(lines.join(" | ")));
        QVERIFY(rig.settle());
        const QString left = leftovers(baseline);
        QVERIFY2(left.isEmpty(), qPrintable(left));
        const QString code = QString::number(request.request);
        if (fault.index == 0) {
            QCOMPARE(lines.size(), 1);
        } else {
            const QString missed = hitCheck(rig.bus.transfers(rig.node), clean, fault);
            QVERIFY2(missed.isEmpty(), qPrintable(missed));
            // One error, then one completion of the same request; a failed read has no data.
            QVERIFY2(lines.size() == 2, qPrintable(lines.join(" | ")));
            QVERIFY2(lines[0].startsWith(code + " error "), qPrintable(lines[0]));
            const QString wrong
                = judge(lines[0].section(' ', 2), configTexts, codeOf(fault.kind), request.request);
            QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
            const QStringList completions = request.write
                ? QStringList {code + " set", code + " get null 0"}
                : QStringList {code + " get null 0"};
            QVERIFY2(completions.contains(lines[1]), qPrintable(lines[1]));
        }

        // The next request, with the device back if it left, goes through.
        DeviceDescription desc = rig.desc;
        if (!rig.bus.attached(rig.node)) {
            rig.bus.replug(rig.node);
            desc = describe(rig.node);
        }
        const int held = rig.bus.liveReferences(); // `desc` may hold one more
        const int done = lines.size();
        rig.issue(request, desc);
        QVERIFY2(QTest::qWaitFor([&] { return lines.size() > done; }, runBoundMs),
            qPrintable(lines.join(" | ")));
        QVERIFY(rig.settle());
        QCOMPARE(lines.mid(done), QStringList {rig.expected(request)});
        for (size_t i = 0; i < events.size(); ++i) {
            if (int(i) != request.action)
                QVERIFY2(events[i]->list.isEmpty(), qPrintable(events[i]->list.join(" | ")));
        }
        const QString leftAgain = leftovers(held);
        QVERIFY2(leftAgain.isEmpty(), qPrintable(leftAgain));
    }

private:
    // One application device behind the hub with settings of its own, and the engine as the
    // window builds it: one task, three actions.
    struct ConfigRig {
        ConfigRig()
        {
            vdev::NorbySettings &s = model->settings();
            s.setFlags(0x12);
            s.setUserMode(1, {0x80, 0x07, 0x38, 0x04, 0x00});
            vdev::NorbySettings::InputStatusBlock status;
            for (size_t i = 0; i < status.size(); ++i)
                status[i] = uint8_t(0x41 + i);
            s.setInputStatus(status);
        }

        void issue(const ConfigOp &op, const DeviceDescription &d)
        {
            switch (op.action) {
            case 0:
                if (op.write)
                    flags.set(d, 0x16);
                else
                    flags.get(d);
                break;
            case 1:
                input.get(d);
                break;
            default:
                if (op.write)
                    modes.set(d, UserMode {640, 480, 0}, 0xB3, 1);
                else
                    modes.get(d, 0xB3, 1);
                break;
            }
        }

        // The result line of `op` done right, checked against the device.
        QString expected(const ConfigOp &op)
        {
            QString line;
            bus.locked([&] {
                vdev::NorbySettings &s = model->settings();
                const QString code = QString::number(op.request);
                if (op.write) {
                    const bool stored = op.action == 0
                        ? s.flags() == 0x16
                        : bytesOf(std::vector<uint8_t>(s.userMode(1).begin(), s.userMode(1).end()))
                            == QByteArray::fromHex("8002e00100");
                    line = code + (stored ? " set" : " set, but the device did not store it");
                } else if (op.action == 0) {
                    line = code + " get " + QString::number(s.flags(), 16).rightJustified(2, '0')
                        + " 1";
                } else if (op.action == 1) {
                    const auto &b = s.inputStatus();
                    line = code + " get "
                        + bytesOf(std::vector<uint8_t>(b.begin(), b.end())).toHex() + " 29";
                } else {
                    const auto &b = s.userMode(1);
                    line = code + " get "
                        + bytesOf(std::vector<uint8_t>(b.begin(), b.end())).toHex() + " 5";
                }
            });
            return line;
        }

        bool settle()
        {
            QSignalSpy done(task.get(), &ConfigDeviceBase::getRequestComplete);
            emit task->getConfigDeviceData(desc, Sentinel, makeConfigDeviceData(1), 1, 0, 0);
            return QTest::qWaitFor(
                [&] {
                    return std::any_of(done.begin(), done.end(), [](const QList<QVariant> &args) {
                        return args.at(0).value<uint8_t>() == Sentinel;
                    });
                },
                runBoundMs);
        }

        vusb::Bus &bus = vusb::Bus::instance();
        std::shared_ptr<NorbyDevice> model = NorbyDevice::make(0x3620, NorbyState::Application);
        vusb::NodeId node = bus.plug(Topology::build().hub, 2, model);
        DeviceDescription desc = describe(node);
        std::unique_ptr<ConfigDeviceTask> task = std::make_unique<ConfigDeviceTask>();
        DeviceFlagsAction flags {task.get()};
        InputStatusAction input {task.get()};
        UserModeAction modes {task.get()};
        std::array<ConfigDeviceBase *, 3> actions {&flags, &input, &modes};
    };
};

QTEST_GUILESS_MAIN(tst_FaultMatrix)
#include "tst_faultmatrix.moc"
