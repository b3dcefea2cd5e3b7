#include "buschecks.h"
#include "devicedescription.h"
#include "norbydevice.h"

#include <QVariant>
#include <QtTest>

using vdev::NorbyDevice;
using vdev::NorbyState;

class tst_DeviceDescription : public QObject
{
    Q_OBJECT

    libusb_device *device_ = nullptr;
    libusb_device *parent_ = nullptr;
    libusb_device **list_ = nullptr;

private slots:
    void init()
    {
        vusb::Bus &bus = vusb::Bus::instance();
        bus.reset();
        const auto root = bus.addRootHub(1);
        bus.plug(root, 1, NorbyDevice::make(0x3600, NorbyState::Application));
        QCOMPARE(libusb_get_device_list(nullptr, &list_), ssize_t(2));
        parent_ = list_[0];
        device_ = list_[1];
    }

    void cleanup()
    {
        libusb_free_device_list(list_, 1);
        VERIFY_BUS_CLEAN();
        vusb::Bus::instance().reset();
    }

    void defaultsAreEmpty()
    {
        const DeviceDescription desc;
        QCOMPARE(desc.vendorId, uint16_t(0));
        QCOMPARE(desc.deviceAddress, int16_t(0));
        QCOMPARE(desc.mode, int32_t(Normal));
        QVERIFY(desc.portPath.empty());
        QVERIFY(desc.serial.isEmpty());
        QVERIFY(!desc.device);
        QVERIFY(!desc.parent);
        QVERIFY(!desc.installDriverIfUnsupported);
        QCOMPARE(desc.capabilities, uint32_t(0));
    }

    void copiesBalanceTheirReferences()
    {
        vusb::Bus &bus = vusb::Bus::instance();
        const int listRefs = bus.liveReferences();
        {
            DeviceDescription desc;
            desc.device.reset(device_);
            desc.parent.reset(parent_);
            desc.serial = QStringLiteral("A1");
            QCOMPARE(bus.liveReferences(), listRefs + 2);

            DeviceDescription copy = desc;
            QCOMPARE(bus.liveReferences(), listRefs + 4);
            QCOMPARE(copy.device.get(), device_);
            QCOMPARE(copy.serial, QStringLiteral("A1"));

            copy = desc; // replacing releases the old references first
            QCOMPARE(bus.liveReferences(), listRefs + 4);
            copy = copy;
            QCOMPARE(bus.liveReferences(), listRefs + 4);

            DeviceDescription moved = std::move(copy);
            QCOMPARE(bus.liveReferences(), listRefs + 4);

            // The way it travels through queued signals and list entries.
            const QVariant variant = QVariant::fromValue(desc);
            QCOMPARE(bus.liveReferences(), listRefs + 6);
            QCOMPARE(variant.value<DeviceDescription>().device.get(), device_);

            moved.parent.reset(device_); // replacing with another device
            moved.device.reset();
            QCOMPARE(bus.liveReferences(), listRefs + 5);
        }
        QCOMPARE(bus.liveReferences(), listRefs);
    }

    void aReferenceKeepsAnUnpluggedDeviceAlive()
    {
        vusb::Bus &bus = vusb::Bus::instance();
        DeviceDescription desc;
        desc.device.reset(device_);
        libusb_free_device_list(list_, 1);
        list_ = nullptr;
        bus.unplug(1);
        // Still valid: the description holds the last reference.
        libusb_device_descriptor descriptor {};
        QCOMPARE(libusb_get_device_descriptor(desc.device.get(), &descriptor), 0);
        QCOMPARE(descriptor.idProduct, uint16_t(0x3601));
        desc.device.reset();
        QVERIFY(bus.misuse().empty());
    }

    void aLeakedReferenceIsReported()
    {
        vusb::Bus &bus = vusb::Bus::instance();
        libusb_ref_device(device_);
        libusb_free_device_list(list_, 1);
        list_ = nullptr;
        QCOMPARE(bus.liveReferences(), 1);
        QVERIFY(!bus.leakReport().empty());
        libusb_unref_device(device_);
        QVERIFY(bus.leakReport().empty());
        // One release too many is caught, not silently absorbed.
        libusb_unref_device(device_);
        QCOMPARE(bus.misuse().size(), size_t(1));
        bus.reset();
        QCOMPARE(libusb_get_device_list(nullptr, &list_), ssize_t(0));
    }
};

QTEST_GUILESS_MAIN(tst_DeviceDescription)
#include "tst_devicedescription.moc"
