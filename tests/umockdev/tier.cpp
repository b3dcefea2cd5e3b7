#include "tier.h"

#include <QMutex>
#include <QMutexLocker>
#include <QTest>
#include <libusb.h>

#include <sys/syscall.h>
#include <unistd.h>

namespace tier {

namespace {

QMutex logMutex;
QStringList warnings;

void LIBUSB_CALL collect(libusb_context *, enum libusb_log_level, const char *text)
{
    QMutexLocker lock(&logMutex);
    warnings << QString::fromUtf8(text).trimmed();
}

} // namespace

Topology Topology::build(usbfs::Bus &bus)
{
    Topology t;
    t.root2 = bus.addRootHub(1, usbfs::Speed::High);
    t.root3 = bus.addRootHub(2, usbfs::Speed::Super);
    bus.linkPeerHubs(t.root2, t.root3, 4);
    t.hub2 = bus.addHub(t.root2, 3);
    t.hub3 = bus.addHub(t.root3, 3);
    bus.linkPeerHubs(t.hub2, t.hub3, 4);
    return t;
}

void TierTestCase::init()
{
    bus_ = std::make_unique<usbfs::Bus>();
    {
        QMutexLocker lock(&logMutex);
        warnings.clear();
    }
    scriptDriverInstall({});
    QCOMPARE(libusb_init(nullptr), 0);
    libusb_set_log_cb(nullptr, collect, LIBUSB_LOG_CB_GLOBAL | LIBUSB_LOG_CB_CONTEXT);
    libusb_set_option(nullptr, LIBUSB_OPTION_LOG_LEVEL, LIBUSB_LOG_LEVEL_WARNING);
}

void TierTestCase::cleanup()
{
    // Everything is torn down whatever went wrong, so the next test starts clean; the findings
    // are reported at the end.
    QStringList findings;
    if (!bus_->waitForClosedFiles(std::chrono::milliseconds(5000)))
        findings << QString("%1 file(s) of device nodes still open").arg(bus_->openFiles());
    // All libusb_exit warns about is what the program did not give back.
    const int before = int(libusbWarnings().size());
    libusb_exit(nullptr);
    for (const QString &line : libusbWarnings().mid(before))
        findings << "libusb_exit: " + line;
    for (const std::string &call : bus_->unexpected())
        findings << "unknown to the emulation: " + QString::fromStdString(call);
    // The bus is gone only once umockdev's worker thread has let go of all it made: what is
    // left now leaked, and waiting would not bring it back.
    bus_.reset();
    if (const int live = usbfs::Bus::liveGObjects())
        findings << QString("%1 GLib object(s) of the test bed not finalized").arg(live);
    QVERIFY2(findings.isEmpty(), qPrintable(findings.join("; ")));
}

QStringList libusbWarnings()
{
    QMutexLocker lock(&logMutex);
    return warnings;
}

QStringList wire(const usbfs::Bus &bus, usbfs::NodeId node)
{
    QStringList out;
    for (const usbfs::Transfer &t : bus.transfers(node)) {
        if ((t.requestType & 0x60) != 0x40)
            continue;
        const QByteArray data(reinterpret_cast<const char *>(t.data.data()), int(t.data.size()));
        out << QString::asprintf(
                   "%02x %02x %d %d %d: ", t.requestType, t.request, t.value, t.index, t.length)
                + data.toHex(' ') + " -> " + QString::number(t.result);
    }
    return out;
}

QStringList driverCalls(const usbfs::Bus &bus, usbfs::NodeId node)
{
    QStringList out;
    for (const std::string &call : bus.calls(node)) {
        const QString line = QString::fromStdString(call);
        // Standard requests (the string descriptors) are left out.
        if (line.startsWith("open") || line.startsWith("close") || line.startsWith("urb 80"))
            continue;
        out << line;
    }
    return out;
}

WithoutFileOverride::WithoutFileOverride()
{
    // Effective capabilities belong to a thread, not to the process, and a new thread starts
    // with its creator's; the permitted set stays, so the destructor can raise them again.
    __user_cap_header_struct header {_LINUX_CAPABILITY_VERSION_3, 0};
    syscall(SYS_capget, &header, saved_);
    __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
    reduced[0].effective &= ~(1u << CAP_DAC_OVERRIDE | 1u << CAP_DAC_READ_SEARCH);
    syscall(SYS_capset, &header, reduced);
}

WithoutFileOverride::~WithoutFileOverride()
{
    __user_cap_header_struct header {_LINUX_CAPABILITY_VERSION_3, 0};
    syscall(SYS_capset, &header, saved_);
}

} // namespace tier
