#include "devicecompat.h"

#include <QtTest>

class tst_DeviceCompat : public QObject
{
    Q_OBJECT

private slots:
    void compatibility_data()
    {
        QTest::addColumn<QString>("product");
        QTest::addColumn<int>("vendorId");
        QTest::addColumn<int>("productId");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("compatible");

        QTest::newRow("kestrel3") << "kestrel3" << 0x2B77 << 0x3601 << int(Normal) << true;
        QTest::newRow("legacy, vendor 5555") << "legacy" << 0x5555 << 0x3601 << int(Normal) << true;
        QTest::newRow("4k, both ids") << "kestrel3_4k" << 0x2B77 << 0x3641 << int(Normal) << true;
        QTest::newRow("harrier3 on kestrel3")
            << "harrier3" << 0x2B77 << 0x3601 << int(Normal) << false;
        QTest::newRow("low digit 2") << "ospreyx3" << 0x2B77 << 0x3622 << int(Normal) << false;
        QTest::newRow("other vendor") << "ospreyx3" << 0x1234 << 0x3621 << int(Normal) << false;
        // Soft repair (id ending in 0) and the sandbox (F) do not tell the product; the vendor
        // still has to match.
        QTest::newRow("soft repair") << "harrier3" << 0x2B77 << 0x3620 << int(SoftRepair) << true;
        QTest::newRow("sandbox") << "harrier3" << 0x2B77 << 0x362F << int(DirectUpdate) << true;
        QTest::newRow("5555 soft repair")
            << "kestrel3" << 0x5555 << 0x3600 << int(SoftRepair) << true;
        QTest::newRow("5555 soft repair, ospreyx3")
            << "ospreyx3" << 0x5555 << 0x3600 << int(SoftRepair) << false;
        QTest::newRow("boot loader")
            << "kestrel3_4k" << 0x04B4 << 0x00F3 << int(HardRepair) << true;
        QTest::newRow("boot loader ids, not in repair")
            << "kestrel3_4k" << 0x04B4 << 0x00F3 << int(Normal) << false;
    }

    void compatibility()
    {
        QFETCH(QString, product);
        QFETCH(int, vendorId);
        QFETCH(int, productId);
        QFETCH(int, mode);
        QFETCH(bool, compatible);

        DeviceDescription desc;
        desc.vendorId = uint16_t(vendorId);
        desc.productId = uint16_t(productId);
        desc.mode = mode;
        const ProductInfo &info = productTable.at(product.toStdString());
        QStringList errors;
        QCOMPARE(
            isDeviceCompatible(info, desc, [&](const QString &t) { errors << t; }), compatible);
        QCOMPARE(errors,
            compatible ? QStringList() : QStringList {"Selected device and firmware incompatible"});
        QCOMPARE(isDeviceCompatible(info, desc), compatible); // no reporter
    }

    // Repair looks for the sandbox ids in set order: by vendor, then product id.
    void idSetOrder()
    {
        const UsbIdSet ids {{0x5555, 0x0001}, {0x2B77, 0x3661}, {0x2B77, 0x3601}, {0x5555, 0x0001}};
        const std::vector<UsbId> sorted(ids.begin(), ids.end());
        QVERIFY((sorted == std::vector<UsbId> {{0x2B77, 0x3601}, {0x2B77, 0x3661}, {0x5555, 1}}));
        const UsbIdSet &sandbox = productTable.at("kestrel3_4k").sandboxIds;
        QVERIFY((std::vector<UsbId>(sandbox.begin(), sandbox.end())
            == std::vector<UsbId> {{0x2B77, 0x363F}, {0x2B77, 0x364F}}));
        QCOMPARE(productTable.size(), std::size_t(5));
    }
};

QTEST_GUILESS_MAIN(tst_DeviceCompat)
#include "tst_devicecompat.moc"
