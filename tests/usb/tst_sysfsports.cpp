#include "fakesystem.h"
#include "sysfsports.h"
#include "videousers.h"

#include <QtTest>

#include <unistd.h>

Q_DECLARE_METATYPE(PortLocation)

namespace {

PortLocation at(uint8_t bus, std::vector<uint8_t> path)
{
    return {bus, std::move(path)};
}

QString text(const std::optional<PortLocation> &port)
{
    if (!port)
        return "none";
    QStringList path;
    for (uint8_t p : port->portPath)
        path << QString::number(p);
    return QString::number(port->busNumber) + "-" + path.join('.');
}

} // namespace

// The companion of a port, read from the "peer" links Linux keeps in sysfs, and the programs
// holding a device's video nodes.
class tst_SysfsPorts : public QObject
{
    Q_OBJECT

private slots:
    void portNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("port");
        const auto row = [](const char *name, const char *sysfs, const char *port) {
            QTest::newRow(name) << QString(sysfs) << QString(port);
        };
        row("root hub", "usb2-port3", "2-3");
        row("external hub", "2-3-port4", "2-3.4");
        row("hub below a hub", "12-1.15-port255", "12-1.15.255");
        row("no port suffix", "2-3", "none");
        row("port 0", "usb2-port0", "none");
        row("port beyond a byte", "usb2-port256", "none");
        row("bus beyond a byte", "300-1-port1", "none");
        row("empty path step", "2-1..2-port1", "none");
        row("letters", "2-a-port1", "none");
        row("no bus", "usb-port1", "none");
        row("sign", "usb+2-port1", "none");
        row("interface, not a port", "2-0:1.0", "none");
    }

    void portNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, port);
        QCOMPARE(text(SysfsPorts::parsePortName(name.toStdString())), port);
    }

    // A sysfs tree in a temporary folder, shaped as Linux makes it: the ports of a USB 3 hub's
    // two halves link to each other, the root hubs' ports as well.
    void companions_data()
    {
        QTest::addColumn<PortLocation>("port");
        QTest::addColumn<QString>("companion");
        QTest::newRow("root port") << at(1, {1}) << "2-1";
        QTest::newRow("root port, other number") << at(1, {3}) << "2-5";
        QTest::newRow("the way back") << at(2, {5}) << "1-3";
        QTest::newRow("behind a USB 3 hub") << at(1, {3, 2}) << "2-5.2";
        QTest::newRow("port without a peer") << at(1, {2}) << "none";
        QTest::newRow("peer link to nowhere") << at(1, {4}) << "none";
        QTest::newRow("no such hub") << at(1, {7, 1}) << "none";
        QTest::newRow("no path") << at(1, {}) << "none";
    }

    void companions()
    {
        QFETCH(PortLocation, port);
        QFETCH(QString, companion);
        QTemporaryDir sys;
        QVERIFY(sys.isValid());
        const QString devices = sys.path() + "/bus/usb/devices";
        const QString pci = sys.path() + "/devices/pci0000:00/0000:00:14.0";
        // Ports by their folder under `pci`, and the devices folder's links to the devices.
        const auto makePort
            = [&](const QString &hub, const QString &interface, const QString &name) {
                  const QString folder = pci + "/" + hub + "/" + interface + "/" + name;
                  QDir().mkpath(folder);
                  return folder;
              };
        const auto peer = [](const QString &a, const QString &b) {
            QFile::link(b, a + "/peer");
            QFile::link(a, b + "/peer");
        };
        QDir().mkpath(devices);
        for (const QString device : {"usb1", "usb2", "usb1/1-3", "usb2/2-5"})
            QFile::link(pci + "/" + device, devices + "/" + device.section('/', -1));
        peer(makePort("usb1", "1-0:1.0", "usb1-port1"), makePort("usb2", "2-0:1.0", "usb2-port1"));
        peer(makePort("usb1", "1-0:1.0", "usb1-port3"), makePort("usb2", "2-0:1.0", "usb2-port5"));
        makePort("usb1", "1-0:1.0", "usb1-port2");
        QFile::link(pci + "/gone/usb9-port1", makePort("usb1", "1-0:1.0", "usb1-port4") + "/peer");
        peer(makePort("usb1/1-3", "1-3:1.0", "1-3-port2"),
            makePort("usb2/2-5", "2-5:1.0", "2-5-port2"));

        QCOMPARE(text(SysfsPorts::companionIn(devices.toStdString(), port)), companion);
    }

    // Who has the video of the device at 2-1 open, on a fake sysfs and /proc: its node is
    // /dev/video3 (device number 81:3), the device at 2-1.4 behind a hub on that port has
    // /dev/video5. A holder is "pid program target", "self" for this process.
    void videoUsers_data()
    {
        QTest::addColumn<QStringList>("holders");
        QTest::addColumn<QString>("users");
        const auto row = [](const char *name, const QStringList &holders, const char *users) {
            QTest::newRow(name) << holders << QString(users);
        };
        row("one holder", {"4242 obs /dev/video3"}, "obs 4242");
        row("two holders", {"4243 ffmpeg /dev/video3", "4242 obs /dev/video3"},
            "obs 4242, ffmpeg 4243");
        row("none", {"4242 obs /dev/null", "4243 cat /var/log/syslog"}, "");
        row("this process skipped", {"self me /dev/video3", "4242 obs /dev/video3"}, "obs 4242");
        row("the node of another device", {"4242 obs /dev/video5"}, "");
        // /dev/null is 1:3 on every Linux system: a node opened by another name, its number
        // told by sysfs.
        row("by device number", {"4242 obs /dev/null"}, "obs 4242");
    }

    void videoUsers()
    {
        QFETCH(QStringList, holders);
        QFETCH(QString, users);
        testsupport::FakeSystem system;
        system.addVideo("2-1", "video3",
            QString(QTest::currentDataTag()) == "by device number" ? "1:3" : "81:3");
        system.addVideo("2-1.4", "video5", "81:5");
        for (const QString &holder : holders) {
            const QStringList parts = holder.split(' ');
            system.addHolder(
                parts[0] == "self" ? ::getpid() : parts[0].toLongLong(), parts[1], parts[2]);
        }
        QStringList found;
        for (const VideoUser &user : usb_video_users(2, {1}))
            found << QString::fromStdString(user.program) + ' ' + QString::number(user.pid);
        QCOMPARE(found.join(", "), users);
    }
};

QTEST_GUILESS_MAIN(tst_SysfsPorts)
#include "tst_sysfsports.moc"
