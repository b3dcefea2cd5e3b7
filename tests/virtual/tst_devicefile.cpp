#include "bustestcase.h"
#include "devicefile.h"
#include "statestore.h"

#include <QtTest>

namespace {

// The parts of a device entry the rows compare.
QString summary(const VirtualDeviceSpec &s)
{
    const auto &c = s.config;
    return QString::asprintf("%04x:%04x state %d at %s serial %s flags %02x mode0 %02x%02x %s "
                             "faults %zu open %d",
        c.vendorId, c.familyId, int(c.state), qPrintable(s.location()),
        c.serial ? c.serial->c_str() : "-", s.flags, s.userModes[0][1], s.userModes[0][0],
        s.userModes[0][4] ? "off" : "on", s.faults.size(), s.openError);
}

} // namespace

// Device files of the drop-in bus: what a file makes of a device, the errors that name the
// fault, and the state a device keeps between runs.
class tst_DeviceFile : public testsupport::BusTestCase
{
    Q_OBJECT

private slots:
    void reads_data()
    {
        QTest::addColumn<QByteArray>("json");
        // The summaries joined by "; ", or the error after the path.
        QTest::addColumn<QString>("result");

        const auto row = [](const char *name, const char *json, const char *result) {
            QTest::newRow(name) << QByteArray(json) << QString(result);
        };
        row("empty list", "[]", "");
        row("defaults", R"({"devices": [{}]})",
            "2b77:3600 state 0 at 1-1 serial K3A81F02 flags 00 mode0 0780 on faults 0 open 0");
        row("every field", R"([{"kind": "KESTREL3 4K", "productId": "0x3631", "vendorId": 11127,
                "state": "boot-loader", "bus": 2, "port": [3, 2], "serial": null, "flags": "0x16",
                "userModes": [{"width": 800, "height": 600, "enabled": false}],
                "faults": [{"request": "0xC6", "from": 2}], "openError": "access"}])",
            "2b77:3630 state 3 at 2-3.2 serial - flags 16 mode0 0320 off faults 1 open -3");
        row("syntax", "[\n  {\"kind\": }\n]",
            ": line 2, column 13: object is missing after a comma");
        row("not a list", R"({"device": []})",
            ": expected a list of devices, or an object with a \"devices\" list");
        row("unknown field", R"([{}, {"serail": "A"}])", ": device 2: unknown field \"serail\"");
        row("unknown kind", R"([{"kind": "KESTREL4"}])",
            ": device 1: \"kind\" must be one of \"HARRIER3\", \"KESTREL3\", \"KESTREL3 4K\", "
            "\"OSPREYX3\"");
        row("number out of range", R"([{"flags": 256}])",
            ": device 1: \"flags\" must be a whole number from 0 to 255");
        // Past the range of long: refused without being converted.
        row("number beyond long", R"([{"bus": 1e100}])",
            ": device 1: \"bus\" must be a whole number from 1 to 127");
        row("fraction", R"([{"port": [1.5]}])",
            ": device 1: \"port\" must be a whole number from 1 to 15");
        row("port taken by a hub", R"([{"port": [3, 1]}, {"port": [3]}])",
            ": device 2: is plugged where device 1-3.1 or its hub is");
    }

    void reads()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, result);

        const QString path = dir_.filePath(QString(QTest::currentDataTag()) + ".json");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(json) == json.size());
        file.close();
        QString error;
        const auto specs = readDeviceFile(path, error);
        if (result.startsWith(':')) {
            QVERIFY(!specs);
            QCOMPARE(error, path + result);
            return;
        }
        QVERIFY2(specs, qPrintable(error));
        QStringList summaries;
        for (const VirtualDeviceSpec &spec : *specs)
            summaries << summary(spec);
        QCOMPARE(summaries.join("; "), result);
    }

    // A run's settings are kept, and flash no run committed is not. A microcode run that completed
    // and the repaired device that boots it the next time: tst_blackbox, updates.
    void keepsState()
    {
        const VirtualDeviceSpec spec = defaultDevices().front();
        const QString folder = dir_.filePath("state");
        DeviceStateStore first(folder, spec.location());
        auto device = makeDevice(spec);
        QVERIFY(!first.restore(*device));
        device->flash().restore({1, 2, 3, 4}, {5, 6}, {7});
        device->settings().setFlags(0x04);
        first.saveChanges(*device);

        DeviceStateStore second(folder, spec.location());
        QVERIFY(!second.hasMicrocode());
        auto next = makeDevice(spec);
        QVERIFY(second.restore(*next));
        QCOMPARE(int(next->settings().flags()), 0x04);
        QVERIFY(next->flash().fx3Flash().empty());
        // Written aside and renamed: no temporary is left.
        QCOMPARE(QDir(folder + "/1-1").entryList(QDir::Files), QStringList {"settings.bin"});
    }

private:
    QTemporaryDir dir_;
};

QTEST_GUILESS_MAIN(tst_DeviceFile)
#include "tst_devicefile.moc"
