#include "commandline.h"
#include "devicewatch.h"
#include "fakesystem.h"
#include "terminationsignals.h"
#include "updatepackages.h"
#include "waitfor.h"
#include "window.h"

#include <QtTest>
#include <QtWidgets>
#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

using testsupport::writeUpdatePackage;

namespace {

const char DoNotInterrupt[] = "DO NOT INTERRUPT";
const char Warning[] = "Do not disconnect. Retry. Call Support.";

// The device's flash stays busy until `ready` is set, so an update waits in its flash step for
// as long as the test needs; the busy polls are left out of the transfer log.
template<typename Device>
void holdFlashBusy(vusb::Bus &bus, const Device &device, std::atomic<bool> &ready)
{
    bus.locked([&] { device->flash().setEmptyStatus(true); });
    bus.setTransferObserver([&ready, device](const vusb::TransferRecord &, auto &) {
        if (ready)
            device->flash().setEmptyStatus(false);
    });
    bus.setRecordTransfers(false);
}

} // namespace

// The Firmware page: picking a package, updating and repairing the selected device, the
// automatic update of the command line, and the window staying put while a flash runs.
class tst_FirmwarePage : public uitest::WindowTestCase
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Never the user's own settings.
        QVERIFY(settingsDir_.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir_.path());
        QCoreApplication::setOrganizationName("Lumexor Systems Inc");
        QCoreApplication::setApplicationName("Lumexor Capture Config");
    }
    void init()
    {
        uitest::WindowTestCase::init();
        QSettings().clear();
    }

    void sessionEnd_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<QString>("during");
        QTest::addColumn<QString>("shown"); // the Do-not-interrupt line once the signal is taken
        QTest::addColumn<QString>("atQuit"); // the progress bar
        QTest::addColumn<QString>("box");

        const auto row = [](const char *name, int signalNumber, const char *during,
                             const QString &shown, const char *atQuit, const char *box) {
            QTest::newRow(name) << signalNumber << QString(during) << shown << QString(atQuit)
                                << QString(box);
        };
        const QString goesOn
            = QString(DoNotInterrupt) + "\nThe update goes on; the program ends when it has ended.";
        // Each signal once: they share one handler.
        row("SIGHUP", SIGHUP, "", "-", "-", "");
        row("SIGTERM during an update", SIGTERM, "update", goesOn, "Update Completed", "");
        // The error box of the failed update does not keep the application.
        row("SIGINT during a failing update", SIGINT, "failing update", goesOn, "Update Error",
            "critical|Update Error|Error: failed to start FPGA reflashing: LIBUSB_ERROR_PIPE");
    }

    void sessionEnd()
    {
        QFETCH(int, signalNumber);
        QFETCH(QString, during);

        testsupport::ZipPackage zip;
        const auto device = norby(0x3600, NorbyState::Application);
        vusb::Bus &bus = vusb::Bus::instance();
        const auto node = bus.plug(topology.hub, 2, device);
        if (during == "failing update")
            bus.failRequest(node, {0xC1, 1, -1});
        // The update waits for a flash that stays busy until the window has taken the signal.
        UpdatePacing pacing = uitest::fastPacing;
        pacing.flashReadyTimeout = 10s;
        Window window({}, writeUpdatePackage(zip, "kestrel3"), false, pacing);
        QVERIFY(window.scanned(1));
        std::atomic<bool> flashReady {false};
        holdFlashBusy(bus, device, flashReady);

        const TerminationSignals sessionEnd;
        connect(
            &sessionEnd, &TerminationSignals::received, &window.dialog, &UpdateRepair::endSession);
        auto *label = window.widget<QLabel>("labelDoNotInterrupt");
        auto *progress = window.widget<QProgressBar>("updateProgress");
        QString shown, atQuit;
        // Right after the window took the signal, the update goes on.
        connect(&sessionEnd, &TerminationSignals::received, &window.dialog, [&] {
            shown = label->isVisible() ? label->text() : "-";
            flashReady = true;
        });
        connect(qApp, &QCoreApplication::aboutToQuit, &window.dialog,
            [&] { atQuit = progress->isVisible() ? progress->text() : "-"; });
        if (!during.isEmpty())
            window.click("updateButton");
        QCOMPARE(std::raise(signalNumber), 0);
        // The application's event loop as main() runs it, until something quits it; -1 when
        // nothing did within a bound.
        QTimer::singleShot(10000, &window.dialog, [] { QCoreApplication::exit(-1); });
        QCOMPARE(QCoreApplication::exec(), 0);

        QTEST(shown, "shown");
        QTEST(atQuit, "atQuit");
        QTEST(boxes.takeLines().join(""), "box");
        QCOMPARE(int(window.starts.count()), during.isEmpty() ? 0 : 1);
    }

    // A file name need not be UTF-8: "pkg-\xff.fw" is shown as "pkg-\uFFFD.fw", as is the
    // decoy beside it. The window opens the command line's bytes while its path is unchanged; an
    // edited path is text alone, and refused. (Which file such a text names is tests/update's.)
    void packageNames_data()
    {
        QTest::addColumn<bool>("edited");
        QTest::newRow("command line") << false;
        QTest::newRow("command line, then edited") << true;
    }

    void packageNames()
    {
        QFETCH(bool, edited);
        testsupport::ZipPackage zip;
        const QByteArray named = QFile::encodeName(zip.folder()) + "/pkg-\xff.fw";
        QCOMPARE(std::rename(QFile::encodeName(writeUpdatePackage(zip, "kestrel3")), named), 0);
        // Beside it, the file whose name is the UTF-8 of U+FFFD: the text names both.
        const QByteArray decoy = QFile::encodeName(zip.folder()) + "/pkg-\xef\xbf\xbd.fw";
        QCOMPARE(::close(::creat(decoy.constData(), 0600)), 0);
        // QTemporaryDir removes by text, which names the decoy: both go by their bytes first.
        const auto unlinked = qScopeGuard([&] {
            ::unlink(named.constData());
            ::unlink(decoy.constData());
        });
        const QString shown = zip.folder() + QString::fromUtf8("/pkg-\uFFFD.fw");

        const auto node
            = vusb::Bus::instance().plug(topology.hub, 2, norby(0x3600, NorbyState::Application));
        const char *const argv[] = {"lumexor-capture-config", "-firmware", named.constData()};
        const CommandLine line = parseCommandLine(3, argv);
        Window window(line.filter, line.firmwarePath, line.autoUpdate);
        window.dialog.setFirmwareFile(line.firmwareFile);
        QVERIFY(window.scanned(1));
        auto *edit = window.widget<QLineEdit>("firmwareLineEdit");
        QCOMPARE(edit->text(), shown);
        if (edited) {
            edit->clear();
            edit->insert(shown); // as pasted: keyClicks knows no U+FFFD
        }
        window.click("updateButton");
        QVERIFY(window.updated(1));
        const QStringList taken = boxes.takeLines();
        QCOMPARE(taken.size(), int(edited));
        if (edited)
            QVERIFY2(
                taken.first().startsWith("critical|Update Error|Cannot open firmware package: "),
                qPrintable(taken.first()));
        const QStringList wire = testsupport::wire(node);
        QCOMPARE(std::any_of(wire.begin(), wire.end(),
                     [](const QString &line) { return line.startsWith("40 "); }),
            !edited); // written only from the command line's bytes
    }

    // What the window shows of an update, one that ends well or not, and of one refused before
    // its start; the flashing itself is the update task's (tests/update).
    void updates_data()
    {
        QTest::addColumn<int>("devices");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("box");

        const QString select = "warning|Lumexor Updater|Please select ";
        QTest::newRow("update") << 1 << ""
                                << "";
        QTest::newRow("FPGA step fails")
            << 1 << "c1"
            << "critical|Update Error|Error: failed to start FPGA reflashing: LIBUSB_ERROR_PIPE";
        // Refused before a start.
        QTest::newRow("no device selected") << 2 << "" << select + "a device from the list";
        QTest::newRow("no package named") << 1 << "no path" << select + "the firmware file";
        // A capture application has the device's video open: the window asks first, and an
        // update starts only on Yes. The device is the first on bus 1, 1-1.
        const QString inUse = "question|Device in use|The device is in use by obs (process 4242). "
                              "The update restarts the device, which ends their capture.\n\n"
                              "Update anyway?";
        QTest::newRow("in use, not updated") << 1 << "in use" << inUse;
        QTest::newRow("in use, updated anyway") << 1 << "in use, yes" << inUse;
    }

    void updates()
    {
        QFETCH(int, devices);
        QFETCH(QString, setup);
        QFETCH(QString, box);

        testsupport::ZipPackage zip;
        const QString package
            = setup == "no path" ? QString() : writeUpdatePackage(zip, "kestrel3");
        vusb::Bus &bus = vusb::Bus::instance();
        for (int port = 1; port <= devices; ++port) {
            const auto node
                = bus.plug(topology.root1, uint8_t(port), norby(0x3600, NorbyState::Application));
            if (setup == "c1")
                bus.failRequest(node, {0xC1, 1, -1});
        }
        testsupport::FakeSystem system;
        if (setup.startsWith("in use")) {
            system.addVideo("1-1", "video2");
            system.addHolder(4242, "obs", "/dev/video2");
        }
        Window window({}, package);
        QVERIFY(window.scanned(1));
        auto *label = window.widget<QLabel>("labelDoNotInterrupt");
        auto *progress = window.widget<QProgressBar>("updateProgress");
        if (setup.startsWith("in use")) {
            if (setup.endsWith("yes"))
                boxes.answerNext(QMessageBox::Yes);
            window.click("updateButton");
            QVERIFY(boxes.waitForBoxes(1));
            QCOMPARE(boxes.takeLines(), QStringList {box});
            box.clear();
            if (window.starts.count() == 0) {
                QVERIFY(!setup.endsWith("yes"));
                QVERIFY(window.dialog.isEnabled());
                QVERIFY(window.dialog.isPollingInputSignal());
                QVERIFY(label->isHidden());
                return;
            }
        }
        const bool started = !box.startsWith("warning");
        if (!started) { // the button is disabled then; the command line's update still calls it
            window.invoke("on_updateButton_clicked");
            QCOMPARE(boxes.takeLines(), QStringList {box});
            QCOMPARE(window.starts.count(), 0);
            QVERIFY(window.dialog.isEnabled());
            QVERIFY(label->isHidden());
            return;
        }
        QVERIFY(window.starts.count() || window.dialog.isPollingInputSignal());
        if (!window.starts.count())
            window.click("updateButton");
        QCOMPARE(window.starts.count(), 1);
        QVERIFY(!window.dialog.isEnabled());
        QVERIFY(!window.dialog.isPollingInputSignal());
        QVERIFY(progress->isVisible());
        QVERIFY(label->isVisible());
        QCOMPARE(label->text(), QString(DoNotInterrupt));
        // Neither the window manager's close nor Escape takes the window away mid-flash.
        QVERIFY(!window.dialog.close());
        window.dialog.reject();
        QVERIFY(window.dialog.isVisible());

        QVERIFY(window.updated(1));
        QCOMPARE(boxes.takeLines().join(""), box);
        QVERIFY(window.dialog.isEnabled());
        QVERIFY(window.dialog.isPollingInputSignal());
        QVERIFY(progress->isVisible());
        if (box.isEmpty()) {
            QCOMPARE(progress->value(), 100);
            QCOMPARE(progress->text(), QString("Update Completed"));
            QVERIFY(label->isHidden());
            QVERIFY(window.dialog.close());
            return;
        }
        QCOMPARE(progress->format(), QString("Update Error"));
        QVERIFY(progress->value() < 100);
        QVERIFY(label->isVisible());
        QCOMPARE(label->text(), QString(Warning));
        QVERIFY(window.widget("tabWidget")->isEnabled());
        // The warning stays until an update ends well; a selection change hides the bar.
        window.widget<QListWidget>("devicesList")->clearSelection();
        QVERIFY(progress->isHidden());
        QCOMPARE(label->text(), QString(Warning));
    }

    // A device plugged in during an update is not rescanned while the update runs, but once
    // it has ended; the update's outcome stays shown through that rescan.
    void plugDuringUpdate_data()
    {
        QTest::addColumn<bool>("failing");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("completed") << false << "Update Completed";
        QTest::newRow("failed") << true << "Update Error";
    }

    void plugDuringUpdate()
    {
        QFETCH(bool, failing);

        testsupport::ZipPackage zip;
        const auto device = norby(0x3600, NorbyState::Application);
        vusb::Bus &bus = vusb::Bus::instance();
        const auto node = bus.plug(topology.hub, 2, device);
        if (failing)
            bus.failRequest(node, {0xC1, 1, -1});
        // The update waits for a flash that stays busy until the rescan was held back.
        UpdatePacing pacing = uitest::fastPacing;
        pacing.flashReadyTimeout = 10s;
        Window window({}, writeUpdatePackage(zip, "kestrel3"), false, pacing);
        QVERIFY(window.scanned(1));
        auto *watch = window.dialog.findChild<DeviceWatch *>();
        QVERIFY(testsupport::waitFor([&] { return watch->isWatching(); }, 5000));
        std::atomic<bool> flashReady {false};
        holdFlashBusy(bus, device, flashReady);

        window.click("updateButton");
        bus.plug(topology.hub, 3, norby(0x3620, NorbyState::Application));
        QVERIFY(testsupport::waitFor([&] { return watch->heldBack(); }, 5000));
        QCOMPARE(window.scans.count(), 1);
        flashReady = true;
        QVERIFY(window.updated(1));
        QVERIFY(window.scanned(2));
        QCOMPARE(window.entries().size(), 2);
        auto *progress = window.widget<QProgressBar>("updateProgress");
        QVERIFY(progress->isVisible());
        QTEST(progress->text(), "outcome");
        QCOMPARE(boxes.takeLines().join(""),
            failing ? "critical|Update Error|Error: failed to start FPGA reflashing: "
                      "LIBUSB_ERROR_PIPE"
                    : "");
    }

    void automaticUpdate_data()
    {
        QTest::addColumn<int>("devices");
        QTest::addColumn<bool>("withPackage");
        QTest::addColumn<int>("startsFirst");
        QTest::addColumn<int>("startsAfterRescan"); // with one device left

        QTest::newRow("one device") << 1 << true << 1 << 1; // once per process
        QTest::newRow("two devices") << 2 << true << 0 << 1;
        QTest::newRow("no package") << 1 << false << 0 << 0;
    }

    void automaticUpdate()
    {
        QFETCH(int, devices);
        QFETCH(bool, withPackage);

        testsupport::ZipPackage zip;
        const QString package = withPackage ? writeUpdatePackage(zip, "kestrel3") : QString();
        vusb::Bus &bus = vusb::Bus::instance();
        std::vector<vusb::NodeId> nodes;
        for (int port = 1; port <= devices; ++port)
            nodes.push_back(
                bus.plug(topology.hub, uint8_t(port), norby(0x3600, NorbyState::Application)));
        Window window({}, package, true);
        QVERIFY(window.scanned(1));
        QTEST(int(window.starts.count()), "startsFirst");
        QVERIFY(window.updated(window.starts.count()));

        for (size_t i = 1; i < nodes.size(); ++i)
            bus.unplug(nodes[i]);
        window.click("rescanDevicesButton");
        QVERIFY(window.scanned(2));
        QTEST(int(window.starts.count()), "startsAfterRescan");
        QVERIFY(window.updated(window.starts.count()));
        QVERIFY(boxes.takeLines().isEmpty());
    }

    void fileChooser_data()
    {
        QTest::addColumn<bool>("choose");
        QTest::newRow("cancelled") << false;
        QTest::newRow("chosen") << true;
    }

    void fileChooser()
    {
        QFETCH(bool, choose);

        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("packages"));
        QFile file(dir.path() + "/packages/new.fw");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QSettings().setValue("firmware/path", "/stored/folder");

        vusb::Bus::instance().plug(topology.root1, 1, norby(0x3600, NorbyState::Application));
        Window window({}, "old.fw");
        QVERIFY(window.scanned(1));
        // UPDATE follows the path: enabled while there is one.
        auto *edit = window.widget<QLineEdit>("firmwareLineEdit");
        QVERIFY(window.widget("updateButton")->isEnabled());
        edit->clear();
        QVERIFY(!window.widget("updateButton")->isEnabled());
        edit->setText("old.fw");
        QStringList asked;
        window.dialog.setFileChooser([&](QWidget *parent, const QString &caption,
                                         const QString &folder, const QString &filter) {
            asked << QString(parent == &window.dialog ? "window" : "other") << caption << folder
                  << filter;
            // Chosen through a path that is not canonical: the folder is stored canonical.
            return choose ? dir.path() + "/packages/../packages/new.fw" : QString();
        });
        window.click("firmwareSelectButton");

        QCOMPARE(asked,
            (QStringList {"window", "Select firmware update file", "/stored/folder",
                "Firmware files (*.fw);; All (*)"}));
        QCOMPARE(
            edit->text(), choose ? dir.path() + "/packages/../packages/new.fw" : QString("old.fw"));
        QCOMPARE(QSettings().value("firmware/path").toString(),
            choose ? QFileInfo(dir.path() + "/packages").canonicalFilePath() : "/stored/folder");
    }

private:
    QTemporaryDir settingsDir_;
};

QTEST_MAIN(tst_FirmwarePage)
#include "tst_firmwarepage.moc"
