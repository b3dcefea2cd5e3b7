#include "devicefilter.h"

#include <QtTest>

class tst_DeviceFilter : public QObject
{
    Q_OBJECT

private slots:
    void admits_data()
    {
        QTest::addColumn<int>("vid");
        QTest::addColumn<int>("pid");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<int>("deviceVid");
        QTest::addColumn<int>("devicePid");
        QTest::addColumn<QString>("deviceSerial");
        QTest::addColumn<bool>("admitted");

        const auto row = [](const char *name, int vid, int pid, const char *serial, int deviceVid,
                             int devicePid, const char *deviceSerial, bool admitted) {
            QTest::newRow(name) << vid << pid << QString(serial) << deviceVid << devicePid
                                << QString(deviceSerial) << admitted;
        };
        // Product id: the working id, and the same family's repair ids only.
        row("no filter", 0, 0, "", 0x2B77, 0x3621, "A1", true);
        row("pid exact", 0, 0x1231, "", 0x2B77, 0x1231, "A1", true);
        row("pid soft repair", 0, 0x1231, "", 0x2B77, 0x1230, "", true);
        row("pid sandbox", 0, 0x1231, "", 0x2B77, 0x123F, "", true);
        row("pid sibling", 0, 0x1231, "", 0x2B77, 0x1232, "A1", false);
        row("pid other family repair", 0, 0x1231, "", 0x2B77, 0x1240, "", false);
        row("repair filter, working device", 0, 0x1230, "", 0x2B77, 0x1231, "A1", false);
        // Vendor id: compared as it is, also for repair ids.
        row("vid match", 0x2B77, 0, "", 0x2B77, 0x3621, "", true);
        row("vid other", 0x2B77, 0, "", 0x5555, 0x3601, "", false);
        row("vid other, repair id", 0x2B77, 0x1231, "", 0x5555, 0x1230, "", false);
        // Serial: exact, letter case included; repair ids report none and pass without it.
        row("serial exact", 0, 0, "A1B2", 0x2B77, 0x1231, "A1B2", true);
        row("serial case", 0, 0, "A1B2", 0x2B77, 0x1231, "a1b2", false);
        row("serial prefix", 0, 0, "A1B2", 0x2B77, 0x1231, "A1B", false);
        row("serial missing", 0, 0, "A1B2", 0x2B77, 0x1231, "", false);
        row("serial, soft repair", 0, 0, "A1B2", 0x2B77, 0x1230, "", true);
        row("serial, sandbox other serial", 0, 0, "A1B2", 0x2B77, 0x123F, "ZZ", true);
        // The FX3 boot loader is not of the family: every comparison applies.
        row("boot loader, no filter", 0, 0, "", 0x04B4, 0x00F3, "", true);
        row("boot loader, own ids", 0x04B4, 0x00F3, "", 0x04B4, 0x00F3, "", true);
        row("boot loader, family vid", 0x2B77, 0, "", 0x04B4, 0x00F3, "", false);
        row("boot loader, family pid", 0, 0x1231, "", 0x04B4, 0x00F3, "", false);
        row("boot loader, repair digit pid", 0, 0x00F0, "", 0x04B4, 0x00F3, "", false);
        row("boot loader, serial", 0, 0, "A1B2", 0x04B4, 0x00F3, "", false);
    }

    void admits()
    {
        QFETCH(int, vid);
        QFETCH(int, pid);
        QFETCH(QString, serial);
        QFETCH(int, deviceVid);
        QFETCH(int, devicePid);
        QFETCH(QString, deviceSerial);

        DeviceDescription desc;
        desc.vendorId = uint16_t(deviceVid);
        desc.productId = uint16_t(devicePid);
        desc.serial = deviceSerial;
        QTEST(deviceFilterAdmits(DeviceFilter {vid, pid, serial}, desc), "admitted");
    }
};

QTEST_APPLESS_MAIN(tst_DeviceFilter)
#include "tst_devicefilter.moc"
