#include "contexttranslator.h"
#include "devicewatch.h"
#include "translations.h"
#include "waitfor.h"
#include "window.h"

#include <QtTest>
#include <QtWidgets>
#include <libusb.h>

#include <map>

Q_DECLARE_METATYPE(DeviceFilter)

// The window's form, the list of devices the scan found and what the selection enables.
class tst_UpdateRepair : public uitest::WindowTestCase
{
    Q_OBJECT

private slots:
    // The form as it opens, on a device it may not open: the Firmware page, nothing of an
    // update shown, the images of the ui library there, and the scan's box. Every text of the
    // form and of the box is translated in its context (what the texts say is the form's own,
    // and shown in docs/); empty ones are set as they are, not translated.
    void form()
    {
        vusb::Bus &bus = vusb::Bus::instance();
        const auto denied = bus.plug(topology.root1, 1, norby(0x3600, NorbyState::Application));
        bus.failOpen(denied, LIBUSB_ERROR_ACCESS);
        bus.scriptDriverInstall({-2});

        testsupport::ContextTranslator translator;
        QCoreApplication::installTranslator(&translator);
        Window window;
        const bool scanned = window.scanned(1);
        QCoreApplication::removeTranslator(&translator);
        QVERIFY(scanned);
        QVERIFY(boxes.waitForBoxes(1));
        QCOMPARE(boxes.takeLines(),
            QStringList {"warning|UpdateRepair|Device Scanning Error|Worker|Access Denied: "
                         "Administrative privilegies are required to access the device"});
        QVERIFY(window.entries().isEmpty());

        int texts = 0;
        for (QWidget *widget : window.dialog.findChildren<QWidget *>()) {
            if (!qobject_cast<QLabel *>(widget) && !qobject_cast<QAbstractButton *>(widget)
                && !qobject_cast<QGroupBox *>(widget))
                continue;
            for (const char *property : {"text", "toolTip", "title"}) {
                const QString text = widget->property(property).toString();
                QVERIFY2(text.isEmpty() || text.startsWith("UpdateRepair|"),
                    qPrintable(widget->objectName() + ": " + text));
                texts += !text.isEmpty();
            }
        }
        QVERIFY2(texts >= 23, qPrintable(QString::number(texts)));
        for (const char *empty : {"LumexorBanner", "labelDoNotInterrupt"})
            QCOMPARE(window.widget(empty)->property("text").toString(), QString());

        QVERIFY(!(window.dialog.windowFlags() & Qt::WindowContextHelpButtonHint));
        QCOMPARE(
            window.widget<QTabWidget>("tabWidget")->currentWidget(), window.widget("tabFirmware"));
        QVERIFY(window.widget("updateProgress")->isHidden());
        QVERIFY(window.widget("labelDoNotInterrupt")->isHidden());
        // A user mode's width and height are 16 bits on the wire.
        const QList<QSpinBox *> spins = window.dialog.findChildren<QSpinBox *>();
        QCOMPARE(spins.size(), 6);
        for (QSpinBox *spin : spins)
            QCOMPARE(qMakePair(spin->minimum(), spin->maximum()), qMakePair(0, 65535));
        QVERIFY(!window.dialog.windowIcon().isNull());
        for (const char *name : {"appicon", "banner", "reload", "folder"})
            QVERIFY2(!QImage(QString(":/images/%1.png").arg(name)).isNull(), name);
        // What a screen reader says for each control the keyboard reaches (a label's buddy
        // gives the field its name; the icon-only buttons have their own). A spin box's editor
        // is part of the spin box, named with it.
        for (QWidget *widget : window.dialog.findChildren<QWidget *>()) {
            QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
            QVERIFY2(!(widget->focusPolicy() & Qt::TabFocus)
                    || qobject_cast<QAbstractSpinBox *>(widget->parentWidget())
                    || !accessible->text(QAccessible::Name).trimmed().isEmpty(),
                widget->metaObject()->className() + QByteArray(" ")
                    + qPrintable(widget->objectName()));
        }
    }

    void listing_data()
    {
        QTest::addColumn<DeviceFilter>("filter");
        QTest::addColumn<QStringList>("entries");

        const QString kestrel = "KESTREL3 (A1, 3.2.1) [2b77:3621]";
        const QString soft = "KESTREL3 (X9, ) [2b77:3620] (Soft Repair Mode)";
        const QString boot = "FX3 Boot Loader (FFFFFFFF, ) [04b4:00f3] (Hard Repair Mode)";
        // One substitution pass: the device's own "%1" and the like are shown as they are.
        const QString odd = "50% %4 (%1%2, %3) [2b77:3641]";

        QTest::newRow("no filter") << DeviceFilter {} << QStringList {kestrel, soft, boot, odd};
        QTest::newRow("pid with its repair state")
            << DeviceFilter {0, 0x3621, ""} << QStringList {kestrel, soft};
        QTest::newRow("serial") << DeviceFilter {0, 0, "%1%2"} << QStringList {soft, odd};
        QTest::newRow("one match, selected") << DeviceFilter {0, 0x3641, ""} << QStringList {odd};
        QTest::newRow("nothing matches") << DeviceFilter {0x2B77, 0x3631, ""} << QStringList {};
    }

    void listing()
    {
        QFETCH(DeviceFilter, filter);

        vusb::Bus &bus = vusb::Bus::instance();
        bus.plug(topology.root1, 1, norby(0x3620, NorbyState::Application, "A1"));
        bus.plug(topology.root1, 2, norby(0x3620, NorbyState::SoftRepair, "X9"));
        bus.plug(topology.hub, 1, norby(0x3600, NorbyState::BootLoader));
        bus.plug(topology.hub, 2, norby(0x3640, NorbyState::Application, "%1%2", "%3", "50% %4"));

        Window window(filter);
        QVERIFY(window.scanned(1));
        QTEST(window.entries(), "entries");
        // Only a lone entry is selected by itself; the signal line waits for a selection's poll.
        QCOMPARE(window.widget("tabWidget")->isEnabled(), window.entries().size() == 1);
        QCOMPARE(window.widget<QLabel>("inputSignalLabel")->text(), QString("device not selected"));
    }

    // With a German locale the texts come from the translation the build made; without one
    // (every other case here) they stay the English ones.
    void inGerman()
    {
        QObject translations;
        installTranslations(translations, QLocale(QLocale::German, QLocale::Germany));
        Window window;
        QVERIFY(window.scanned(1));
        QCOMPARE(window.widget<QAbstractButton>("updateButton")->text(), QString("AKTUALISIEREN"));
        QCOMPARE(
            window.widget<QLabel>("inputSignalLabel")->text(), QString("kein Gerät ausgewählt"));
    }

    // The pages the selected device's capabilities enable follow the current row; a rescan
    // starts from an empty list.
    void pagesFollowTheSelection()
    {
        const struct {
            uint16_t family;
            NorbyState state;
            const char *version;
            const char *pages;
        } devices[] = {{0x3600, NorbyState::Application, "3.2.1", "SAP-U"},
            {0x3620, NorbyState::Application, "3.2.1", "SAPMU"},
            {0x3660, NorbyState::Application, "3.2.1", "S-P-U"},
            {0x3600, NorbyState::Application, "2.9", "SAP--"}, // firmware before user modes
            {0x3600, NorbyState::SoftRepair, "", "-----"},
            {0x3630, NorbyState::Sandbox, "", "-----"}};
        for (uint8_t i = 0; i < 6; ++i)
            vusb::Bus::instance().plug(i < 3 ? topology.root1 : topology.hub, uint8_t(i % 3 + 1),
                norby(devices[i].family, devices[i].state, "A1", devices[i].version));

        Window window;
        QVERIFY(window.scanned(1));
        const QStringList first = window.entries();
        auto *list = window.widget<QListWidget>("devicesList");
        QCOMPARE(list->currentRow(), -1);
        QVERIFY(!window.widget("tabWidget")->isEnabled());
        for (int row = 0; row < 6; ++row) {
            list->setCurrentRow(row);
            QCOMPARE(window.pages(), QString(devices[row].pages));
            // A page the device does not offer shows without a read, which would disable the
            // tabs.
            for (const char *page : {"tabSettings", "tabUserMode"}) {
                if (!window.widget(page)->isEnabled())
                    window.showPage(page);
            }
            QVERIFY(window.widget("tabWidget")->isEnabled());
            window.showPage("tabFirmware");
        }

        window.click("rescanDevicesButton");
        QVERIFY(window.entries().isEmpty());
        QVERIFY(!window.widget("tabWidget")->isEnabled());
        QCOMPARE(window.widget<QLabel>("inputSignalLabel")->text(), QString("device not selected"));
        QVERIFY(window.scanned(2));
        QCOMPARE(window.entries(), first);
    }

    // The list follows the plug: arrivals and departures of devices the probe table knows are one
    // rescan once the bus is quiet, however many came and went; a hub, or a platform without
    // hotplug, leaves the list alone. "+N" plugs the device of root port N, "-N" unplugs it.
    void followsThePlug_data()
    {
        QTest::addColumn<QString>("changes");
        QTest::addColumn<bool>("hotplug");
        QTest::addColumn<QStringList>("entries");

        const QString a = "KESTREL3 (A1, 3.2.1) [2b77:3601]";
        const QString b = "KESTREL3 (B2, 3.2.1) [2b77:3621]";
        const QString c = "KESTREL3 (C3, ) [2b77:3630] (Soft Repair Mode)";
        const QString d = "FX3 Boot Loader (FFFFFFFF, ) [04b4:00f3] (Hard Repair Mode)";
        QTest::newRow("arrival") << "+2" << true << QStringList {a, b};
        QTest::newRow("departure") << "-1" << true << QStringList {};
        QTest::newRow("burst, repair ids too") << "+2 +3 -1 +4" << true << QStringList {b, c, d};
        QTest::newRow("hub") << "+hub" << true << QStringList {a};
        QTest::newRow("no hotplug") << "+2" << false << QStringList {a};
    }

    void followsThePlug()
    {
        QFETCH(QString, changes);
        QFETCH(bool, hotplug);
        QFETCH(QStringList, entries);

        vusb::Bus &bus = vusb::Bus::instance();
        bus.setHotplugCapable(hotplug);
        const std::shared_ptr<vdev::NorbyDevice> models[]
            = {norby(0x3600, NorbyState::Application, "A1"),
                norby(0x3620, NorbyState::Application, "B2"),
                norby(0x3630, NorbyState::SoftRepair, "C3"), norby(0x3600, NorbyState::BootLoader)};
        std::map<int, vusb::NodeId> nodes {{1, bus.plug(topology.root1, 1, models[0])}};
        Window window;
        QVERIFY(window.scanned(1));
        const QStringList first = window.entries();
        auto *watch = window.dialog.findChild<DeviceWatch *>();
        QVERIFY(testsupport::waitFor([&] { return watch->isWatching(); }, 5000) || !hotplug);
        QVERIFY(!watch->isWatching() || hotplug);

        const QStringList steps = changes.split(' ');
        for (const QString &step : steps) {
            const int port = step.mid(1).toInt();
            if (step == "+hub")
                bus.addHub(topology.root1, 4);
            else if (step.startsWith('+'))
                nodes[port] = bus.plug(topology.root1, uint8_t(port), models[port - 1]);
            else
                bus.unplug(nodes[port]);
        }
        // Each delivery has queued its signal to the window's thread before it counts.
        const int delivered = hotplug ? int(steps.size()) : 0;
        QVERIFY(testsupport::waitFor([&] { return bus.hotplugDeliveries() == delivered; }, 5000));
        QCoreApplication::processEvents();
        const bool rescan = entries != first;
        QCOMPARE(watch->pending(), rescan);
        QVERIFY(window.scanned(rescan ? 2 : 1));
        QVERIFY(!watch->pending());
        QStringList listed = window.entries();
        listed.sort();
        entries.sort();
        QCOMPARE(listed, entries);
    }
};

QTEST_MAIN(tst_UpdateRepair)
#include "tst_updaterepair.moc"
