#include "boxwatcher.h"
#include "bustestcase.h"
#include "contexttranslator.h"
#include "window.h"

#include <QtTest>
#include <QtWidgets>
#include <libusb.h>

using vdev::NorbyDevice;
using vdev::NorbyState;

Q_DECLARE_METATYPE(DeviceFilter)

using uitest::norby;
using uitest::Window;

class tst_UpdateRepair : public testsupport::BusTestCase
{
    Q_OBJECT

private slots:
    void init()
    {
        testsupport::BusTestCase::init();
        topology_ = testsupport::Topology::build();
    }
    void cleanup()
    {
        VERIFY_NO_UNEXPECTED_BOXES(boxes_);
        testsupport::BusTestCase::cleanup();
    }

    void formTexts_data()
    {
        QTest::addColumn<QString>("object");
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QString>("text");

        const struct {
            const char *object, *property, *text;
        } rows[] = {{"deviceListLabel", "text", "Devices:"},
            {"rescanDevicesButton", "toolTip", "Refresh device list"},
            {"label", "text", "Firmware:"},
            {"firmwareSelectButton", "toolTip", "Browse for firmware file"},
            {"firmwareSelectButton", "text", "Select"},
            {"updateButton", "toolTip", "Update firmware"}, {"updateButton", "text", "UPDATE"},
            {"keepAspectRatioCheckBox", "text", "Preserve aspect ratio"},
            {"performanceModeCheckBox", "text", "Performance mode"},
            {"audioSelectorCheckBox", "text", "Audio selector for multichannel inputs"},
            {"updateSettingsButton", "text", "Apply"}, {"userMode1", "title", "User mode &1"},
            {"userMode2", "title", "User mode &2"}, {"userMode3", "title", "User mode &3"},
            {"label_3", "text", "Width:"}, {"label_4", "text", "Height:"},
            {"label_5", "text", "Width:"}, {"label_6", "text", "Height:"},
            {"label_7", "text", "Width:"}, {"label_8", "text", "Height:"},
            {"updateUserModesButton", "text", "Apply"}, {"label_2", "text", "Input signal: "}};
        for (const auto &row : rows) {
            QTest::addRow("%s %s", row.object, row.property)
                << row.object << QByteArray(row.property) << QString("UpdateRepair|") + row.text;
        }
        // Empty texts are set as they are, not translated.
        for (const char *empty : {"LumexorBanner", "labelDoNotInterrupt", "inputSignalLabel"})
            QTest::addRow("%s empty", empty) << empty << QByteArray("text") << QString();
    }

    void formTexts()
    {
        QFETCH(QString, object);
        QFETCH(QByteArray, property);

        // Every text of the form is translated in the window's context.
        testsupport::ContextTranslator translator;
        QCoreApplication::installTranslator(&translator);
        Window window;
        QCoreApplication::removeTranslator(&translator);
        QVERIFY(window.scanned(1));

        QWidget *widget = window.widget(object.toLatin1().constData());
        QString shown = widget->property(property.constData()).toString();
        if (object == "inputSignalLabel") // the scan has said "device not selected" since
            shown.clear();
        QTEST(shown, "text");
    }

    void formSetUp()
    {
        Window window;
        QVERIFY(window.scanned(1));
        QDialog &dialog = window.dialog;
        QCOMPARE(dialog.windowTitle(), QString("Lumexor Capture Config"));
        QVERIFY(!(dialog.windowFlags() & Qt::WindowContextHelpButtonHint));
        QVERIFY(!dialog.windowIcon().isNull());

        auto *tabs = window.widget<QTabWidget>("tabWidget");
        QCOMPARE(tabs->currentWidget(), window.widget("tabFirmware"));
        QCOMPARE(tabs->tabText(0), QString("Firmware"));
        QCOMPARE(tabs->tabText(1), QString("Settings"));
        QCOMPARE(tabs->tabText(2), QString("User Modes"));
        auto *progress = window.widget<QProgressBar>("updateProgress");
        QCOMPARE(progress->value(), 0);
        QVERIFY(progress->isHidden());
        QVERIFY(window.widget("labelDoNotInterrupt")->isHidden());

        for (const char *box : {"userMode1", "userMode2", "userMode3"}) {
            QVERIFY(window.widget<QGroupBox>(box)->isCheckable());
            QVERIFY(!window.widget<QGroupBox>(box)->isChecked());
        }
        const QList<QSpinBox *> spins = dialog.findChildren<QSpinBox *>();
        QCOMPARE(spins.size(), 6);
        for (QSpinBox *spin : spins) {
            QCOMPARE(spin->value(), 0);
            spin->setValue(70000);
            QCOMPARE(spin->value(), 65535);
            spin->setValue(-1);
            QCOMPARE(spin->value(), 0);
        }

        // Plain texts on the check boxes, the explanations as rich tool tips.
        for (const char *name :
            {"keepAspectRatioCheckBox", "performanceModeCheckBox", "audioSelectorCheckBox"}) {
            auto *box = window.widget<QCheckBox>(name);
            QVERIFY2(!Qt::mightBeRichText(box->text()), name);
            QVERIFY2(Qt::mightBeRichText(box->toolTip()), name);
            QVERIFY2(box->toolTip().contains(
                         "<span style=\" font-weight:600;\">" + box->text() + "</span>"),
                name);
        }
        QVERIFY(dialog.styleSheet().contains("QLabel#labelDoNotInterrupt"));
    }

    void images_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("alpha");

        QTest::newRow("appicon") << ":/images/appicon.png" << QSize(100, 100) << false;
        QTest::newRow("banner") << ":/images/banner.png" << QSize(500, 279) << true;
        QTest::newRow("reload") << ":/images/reload.png" << QSize(400, 400) << true;
        QTest::newRow("folder") << ":/images/folder.png" << QSize(400, 400) << true;
    }

    void images()
    {
        QFETCH(QString, path);

        Window window; // registers the images of the ui library
        QVERIFY(window.scanned(1));
        const QImage image(path);
        QTEST(image.size(), "size");
        QTEST(image.hasAlphaChannel(), "alpha");
        // PNG is compressed already; the resource stores it as it is.
        QCOMPARE(QResource(path).compressionAlgorithm(), QResource::NoCompression);
    }

    void listing_data()
    {
        QTest::addColumn<DeviceFilter>("filter");
        QTest::addColumn<QStringList>("entries");

        const QString kestrel = "KESTREL3 (A1, 3.2.1) [2b77:3621]";
        const QString soft = "KESTREL3 (X9, ) [2b77:3620] (Soft Repair Mode)";
        const QString boot = "FX3 Boot Loader (FFFFFFFF, ) [04b4:00f3] (Hard Repair Mode)";
        const QString osprey = "KESTREL3 (B2, 3.2.1) [2b77:3641]";

        QTest::newRow("no filter") << DeviceFilter {} << QStringList {kestrel, soft, boot, osprey};
        QTest::newRow("pid with its repair state")
            << DeviceFilter {0, 0x3621, ""} << QStringList {kestrel, soft};
        QTest::newRow("serial") << DeviceFilter {0, 0, "B2"} << QStringList {soft, osprey};
        QTest::newRow("boot loader ids") << DeviceFilter {0x04B4, 0x00F3, ""} << QStringList {boot};
        QTest::newRow("nothing matches") << DeviceFilter {0x2B77, 0x3631, ""} << QStringList {};
    }

    void listing()
    {
        QFETCH(DeviceFilter, filter);

        vusb::Bus &bus = vusb::Bus::instance();
        bus.plug(topology_.root1, 1, norby(0x3620, NorbyState::Application, "A1"));
        bus.plug(topology_.root1, 2, norby(0x3620, NorbyState::SoftRepair, "X9"));
        bus.plug(topology_.hub, 1, norby(0x3600, NorbyState::BootLoader));
        bus.plug(topology_.hub, 2, norby(0x3640, NorbyState::Application, "B2"));

        Window window(filter);
        QVERIFY(window.scanned(1));
        QTEST(window.entries(), "entries");
        // Only a lone entry is selected by itself; the signal line waits for a selection's poll.
        QCOMPARE(window.widget("tabWidget")->isEnabled(), window.entries().size() == 1);
        QCOMPARE(window.widget<QLabel>("inputSignalLabel")->text(), QString("device not selected"));
    }

    void entryTextIsShownAsReported()
    {
        vusb::Bus::instance().plug(
            topology_.root1, 1, norby(0x3600, NorbyState::Application, "%1%2", "%3", "50% %4"));

        Window window;
        QVERIFY(window.scanned(1));
        QCOMPARE(window.entries(), QStringList {"50% %4 (%1%2, %3) [2b77:3601]"});
    }

    void loneDeviceSelected_data()
    {
        QTest::addColumn<int>("family");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("pages");

        const auto row = [](const char *name, int family, NorbyState state, const char *version,
                             const char *pages) {
            QTest::newRow(name) << family << int(state) << QString(version) << QString(pages);
        };
        row("KESTREL3", 0x3600, NorbyState::Application, "3.2.1", "SAP-U");
        row("audio selector", 0x3620, NorbyState::Application, "3.2.1", "SAPMU");
        row("no aspect ratio", 0x3660, NorbyState::Application, "3.2.1", "S-P-U");
        row("firmware before user modes", 0x3600, NorbyState::Application, "2.9", "SAP--");
        row("soft repair", 0x3600, NorbyState::SoftRepair, "", "-----");
        row("sandbox", 0x3630, NorbyState::Sandbox, "", "-----");
    }

    void loneDeviceSelected()
    {
        QFETCH(int, family);
        QFETCH(int, state);
        QFETCH(QString, version);

        vusb::Bus::instance().plug(topology_.hub, 4,
            norby(uint16_t(family), NorbyState(state), "A1", version.toStdString()));
        Window window;
        QVERIFY(window.scanned(1));
        auto *list = window.widget<QListWidget>("devicesList");
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->currentRow(), 0);
        QVERIFY(list->item(0)->isSelected());
        QVERIFY(window.widget("tabWidget")->isEnabled());
        QTEST(window.pages(), "pages");
        QVERIFY(window.widget("updateProgress")->isHidden());
    }

    void selectionFollowsTheCurrentRow()
    {
        vusb::Bus &bus = vusb::Bus::instance();
        bus.plug(topology_.root1, 1, norby(0x3660, NorbyState::Application));
        bus.plug(topology_.root1, 2, norby(0x3620, NorbyState::Application, "A2", "2.0"));

        Window window;
        QVERIFY(window.scanned(1));
        auto *list = window.widget<QListWidget>("devicesList");
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->currentRow(), -1);
        QVERIFY(!window.widget("tabWidget")->isEnabled());

        list->setCurrentRow(1);
        QVERIFY(window.widget("tabWidget")->isEnabled());
        QCOMPARE(window.pages(), QString("SAPM-"));
        list->setCurrentRow(0);
        QCOMPARE(window.pages(), QString("S-P-U"));
        QCOMPARE(list->item(0)->data(Qt::UserRole).value<DeviceDescription>().productId, 0x3661);
    }

    void rescanStartsFromAnEmptyList()
    {
        vusb::Bus &bus = vusb::Bus::instance();
        bus.plug(topology_.root1, 1, norby(0x3600, NorbyState::Application));
        bus.plug(topology_.hub, 2, norby(0x3640, NorbyState::Application));

        Window window;
        QVERIFY(window.scanned(1));
        const QStringList first = window.entries();
        QCOMPARE(first.size(), 2);
        window.widget<QListWidget>("devicesList")->setCurrentRow(0);
        QVERIFY(window.widget("tabWidget")->isEnabled());

        QTest::mouseClick(window.widget("rescanDevicesButton"), Qt::LeftButton);
        QVERIFY(window.entries().isEmpty());
        QVERIFY(!window.widget("tabWidget")->isEnabled());
        QCOMPARE(window.widget<QLabel>("inputSignalLabel")->text(), QString("device not selected"));
        QVERIFY(window.scanned(2));
        QCOMPARE(window.entries(), first);
    }

    void scanError()
    {
        vusb::Bus &bus = vusb::Bus::instance();
        const auto denied = bus.plug(topology_.root1, 1, norby(0x3600, NorbyState::Application));
        bus.failOpen(denied, LIBUSB_ERROR_ACCESS);
        bus.scriptDriverInstall({-2});

        testsupport::ContextTranslator translator;
        QCoreApplication::installTranslator(&translator);
        Window window;
        const bool scanned = window.scanned(1);
        QCoreApplication::removeTranslator(&translator);
        QVERIFY(scanned);
        QVERIFY(boxes_.waitForBoxes(1));
        QCOMPARE(boxes_.takeLines(),
            QStringList {"warning|UpdateRepair|Device Scanning Error|Worker|Access Denied: "
                         "Administrative privilegies are required to access the device"});
        QVERIFY(window.entries().isEmpty());
    }

private:
    testsupport::Topology topology_;
    testsupport::BoxWatcher boxes_;
};

QTEST_MAIN(tst_UpdateRepair)
#include "tst_updaterepair.moc"
