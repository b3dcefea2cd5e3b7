#include "window.h"

#include <QtTest>
#include <QtWidgets>
#include <libusb.h>

namespace {

// The transfers of one request code to `node`, as testsupport::wire() shows them.
QStringList requests(vusb::NodeId node, uint8_t request)
{
    QStringList lines;
    for (const QString &line : testsupport::wire(node)) {
        if (line.mid(3, 2).toUInt(nullptr, 16) == request)
            lines << line;
    }
    return lines;
}

vdev::NorbySettings::UserModeBlock userMode(uint16_t width, uint16_t height, uint8_t disabled)
{
    return {uint8_t(width), uint8_t(width >> 8), uint8_t(height), uint8_t(height >> 8), disabled};
}

} // namespace

// The Settings and User Modes pages and the input-signal line: what the window sends from its
// widgets, when, and what it shows of the answers.
class tst_DevicePages : public uitest::WindowTestCase
{
    Q_OBJECT

private slots:
    void init()
    {
        uitest::WindowTestCase::init();
        // OSPREYX3 offers every settings block.
        device_ = norby(0x3620, NorbyState::Application);
        node_ = vusb::Bus::instance().plug(topology.hub, 1, device_);
    }

    // Bytes and sequencing are the session's (tests/session); here the boxes a read shows and
    // an Apply writes, a box for a failure, and the pages locked while a request runs.
    void settings_data()
    {
        QTest::addColumn<bool>("failing");
        QTest::newRow("read, then Apply") << false;
        QTest::newRow("read fails") << true;
    }

    void settings()
    {
        QFETCH(bool, failing);
        device_->settings().setFlags(0x04);
        // Description "Q", label "P", 60000 mHz, 1920x1080, progressive.
        device_->settings().setInputStatus({'Q', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'P', 0, 0, 0, 0,
            0, 0, 0, 0x60, 0xEA, 0, 0, 0x80, 0x07, 0x38, 0x04, 0});
        if (failing)
            vusb::Bus::instance().failRequest(node_, {0xE2, 1, 1});
        Window window;
        QVERIFY(window.scanned(1));
        // Selected on the Firmware page: nothing is read until the Settings page shows.
        QVERIFY(requests(node_, 0xE2).isEmpty());
        window.widget<QCheckBox>("audioSelectorCheckBox")->setChecked(true);
        QVERIFY(readPage(window, "tabSettings"));
        if (failing) {
            QVERIFY(boxes.waitForBoxes(1));
            QCOMPARE(boxes.takeLines(),
                QStringList {"critical|Device Access Error|Error retreiving config device data: "
                             "req=226, status: Pipe error"});
            QCOMPARE(checks(window), QString("--M")); // kept as they were
            return;
        }
        QCOMPARE(checks(window), QString("-P-"));
        // The line shows the poll's answer (the answers themselves are tests/session's).
        QVERIFY(window.dialog.isPollingInputSignal());
        auto *signal = window.widget<QLabel>("inputSignalLabel");
        window.invoke("onInputStatusTimer"); // one tick of the two-second poll
        QVERIFY(QTest::qWaitFor([&] { return signal->text() == "P 1920x1080p@60, Q"; }, 5000));
        window.widget<QCheckBox>("keepAspectRatioCheckBox")->setChecked(true);
        window.widget<QCheckBox>("performanceModeCheckBox")->setChecked(false);
        window.widget<QCheckBox>("audioSelectorCheckBox")->setChecked(true);
        vusb::Bus::instance().clearTransfers();
        window.click("updateSettingsButton");
        QVERIFY(!window.widget("tabWidget")->isEnabled());
        QVERIFY(!window.dialog.isPollingInputSignal());
        // Until the write's answer is taken (queued, so not before the wait below), the disabled
        // tab widget disables its pages and buttons: neither a page change nor an Apply starts
        // a second request.
        window.showPage("tabUserMode");
        window.click("updateUserModesButton");
        window.showPage("tabSettings");
        window.click("updateSettingsButton");
        QVERIFY(ready(window));
        QCOMPARE(testsupport::wire(node_), QStringList {"40 e3 0 0 1 1000: 12"});
        QVERIFY(window.dialog.isPollingInputSignal());
    }

    void userModes_data()
    {
        QTest::addColumn<int>("failing"); // the 0xB3 read or write that fails, 0 for none
        QTest::addColumn<bool>("write");
        QTest::addColumn<QString>("shown"); // the modes read
        QTest::addColumn<QString>("box");

        const QString read = "on 1920x1080;off 1280x720;on 65535x1;";
        QTest::newRow("read, then Apply") << 0 << true << read << "";
        // The page stays disabled; no box.
        QTest::newRow("read fails") << 2 << false << "on 1920x1080;off 0x0;off 0x0;"
                                    << "";
        QTest::newRow("write fails")
            << 2 << true << read
            << "critical|Device Access Error|Error setting device flags: Pipe error";
    }

    void userModes()
    {
        QFETCH(int, failing);
        QFETCH(bool, write);
        device_->settings().setUserMode(0, userMode(1920, 1080, 0));
        device_->settings().setUserMode(1, userMode(1280, 720, 1));
        device_->settings().setUserMode(2, userMode(65535, 1, 0));
        vusb::Bus &bus = vusb::Bus::instance();
        if (failing && !write)
            bus.failRequest(node_, {0xB3, failing, 1});

        Window window;
        QVERIFY(readPage(window, "tabUserMode"));
        QString shown;
        for (const char *mode : {"userMode1", "userMode2", "userMode3"}) {
            const QByteArray name(mode);
            shown += QString("%1 %2x%3;")
                         .arg(window.widget<QGroupBox>(mode)->isChecked() ? "on" : "off")
                         .arg(window.widget<QSpinBox>(name + "Width")->value())
                         .arg(window.widget<QSpinBox>(name + "Height")->value());
        }
        QTEST(shown, "shown");
        QCOMPARE(window.widget("tabUserMode")->isEnabled(), write);
        if (!write)
            return;
        window.widget<QSpinBox>("userMode1Width")->setValue(320);
        window.widget<QSpinBox>("userMode1Height")->setValue(240);
        window.widget<QSpinBox>("userMode3Width")->setValue(3840);
        window.widget<QSpinBox>("userMode3Height")->setValue(2160);
        bus.clearTransfers();
        if (failing)
            bus.failRequest(node_, {0xB3, failing, 1});
        window.click("updateUserModesButton");
        QVERIFY(ready(window));
        QTEST(boxes.takeLines().join(""), "box");
        if (!failing)
            QCOMPARE(requests(node_, 0xB3),
                (QStringList {"40 b3 0 0 5 1000: 40 01 f0 00 00",
                    "40 b3 0 1 5 1000: 00 05 d0 02 01", "40 b3 0 2 5 1000: 00 0f 70 08 00"}));
    }

    // Enter clicks a dialog's default button; the window has none, as a flash or a write
    // starts only when asked for with a click.
    void enterStartsNothing_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("key");

        const char *const fields[][2]
            = {{"tabFirmware", "firmwareLineEdit"}, {"tabFirmware", "devicesList"},
                {"tabSettings", "performanceModeCheckBox"}, {"tabUserMode", "userMode1Width"}};
        for (const auto &field : fields) {
            QTest::addRow("%s, Return", field[1]) << field[0] << field[1] << int(Qt::Key_Return);
            QTest::addRow("%s, Enter", field[1]) << field[0] << field[1] << int(Qt::Key_Enter);
        }
    }

    void enterStartsNothing()
    {
        QFETCH(QString, page);
        QFETCH(QString, field);
        QFETCH(int, key);

        // UPDATE is enabled: a package is named and the lone device is selected.
        Window window({}, "package.fw");
        QVERIFY(readPage(window, page.toLatin1().constData()));
        QWidget *target = window.widget(field.toLatin1().constData());
        target->setFocus();
        QTest::keyClick(target, Qt::Key(key));

        QCOMPARE(window.starts.count(), 0);
        QVERIFY(window.dialog.isEnabled());
        QVERIFY(window.widget("tabWidget")->isEnabled()); // no Apply under way
        for (const QString &line : testsupport::wire(node_))
            QVERIFY2(!line.startsWith("40 "), qPrintable(line));
    }

private:
    // Shows `page` of a window on the lone device and waits until its read has ended.
    bool readPage(Window &window, const char *page)
    {
        if (!window.scanned(1))
            return false;
        vusb::Bus::instance().clearTransfers();
        window.showPage(page);
        return ready(window);
    }
    static bool ready(Window &window)
    {
        return QTest::qWaitFor([&] { return window.widget("tabWidget")->isEnabled(); }, 5000);
    }
    QString checks(Window &window)
    {
        QString letters;
        letters += window.widget<QCheckBox>("keepAspectRatioCheckBox")->isChecked() ? 'A' : '-';
        letters += window.widget<QCheckBox>("performanceModeCheckBox")->isChecked() ? 'P' : '-';
        letters += window.widget<QCheckBox>("audioSelectorCheckBox")->isChecked() ? 'M' : '-';
        return letters;
    }

    std::shared_ptr<vdev::NorbyDevice> device_;
    vusb::NodeId node_ = -1;
};

QTEST_MAIN(tst_DevicePages)
#include "tst_devicepages.moc"
