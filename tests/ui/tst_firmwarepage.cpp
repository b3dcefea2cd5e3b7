#include "bootimage.h"
#include "boxwatcher.h"
#include "bustestcase.h"
#include "bytes.h"
#include "commandline.h"
#include "edidtext.h"
#include "producttable.h"
#include "terminationsignals.h"
#include "updatepackages.h"
#include "window.h"
#include "zippackage.h"

#include <QtTest>
#include <QtWidgets>
#include <libusb.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <unistd.h>

using testsupport::bytesOf;
using testsupport::patternBytes;
using uitest::norby;
using uitest::Window;
using vdev::NorbyState;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(NorbyState)

namespace {

const QByteArray microcode = patternBytes(5000, 1);
const QByteArray fpga = patternBytes(10000, 2);
const QByteArray sandboxCode = patternBytes(600, 3);
const std::vector<uint8_t> edid = testsupport::makeEdid(2, 4);

// A complete package for `product`.
QString writePackage(testsupport::ZipPackage &zip, const std::string &product)
{
    const ProductInfo &row = productTable.at(product);
    zip.add("product.info", QByteArray::fromStdString(product) + "\n");
    zip.add(row.microcodeImage, microcode);
    zip.add(row.fpgaImage, fpga);
    zip.add(row.sandboxImage, testsupport::bootImage({{0x40000000, sandboxCode}}, 0x40000000));
    if (!row.edidFile.empty())
        zip.add(row.edidFile, testsupport::edidText(edid));
    return zip.write();
}

const char DoNotInterrupt[] = "DO NOT INTERRUPT";
const char Warning[] = "Do not disconnect. Retry. Call Support.";

// Runs the application's event loop as main() does, until something quits it; -1 when nothing
// did within a bound.
int runApplication()
{
    QTimer bound;
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
    bound.start(10000);
    return QCoreApplication::exec();
}

// Files removed by the bytes of their names when it goes.
struct Unlinked {
    QByteArrayList paths;
    ~Unlinked()
    {
        for (const QByteArray &path : paths)
            ::unlink(path.constData());
    }
};

} // namespace

// The Firmware page: picking a package, updating and repairing the selected device, the
// automatic update of the command line, and the window staying put while a flash runs.
class tst_FirmwarePage : public testsupport::BusTestCase
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
        testsupport::BusTestCase::init();
        topology_ = testsupport::Topology::build();
        QSettings().clear();
    }
    void cleanup()
    {
        VERIFY_NO_UNEXPECTED_BOXES(boxes_);
        testsupport::BusTestCase::cleanup();
    }

    void updates_data()
    {
        QTest::addColumn<int>("family");
        QTest::addColumn<NorbyState>("state");
        QTest::addColumn<QString>("product");

        QTest::newRow("framed FPGA") << 0x3600 << NorbyState::Application << "kestrel3";
        QTest::newRow("plain FPGA") << 0x3630 << NorbyState::Application << "kestrel3_4k";
        QTest::newRow("soft repair") << 0x3600 << NorbyState::SoftRepair << "kestrel3";
        QTest::newRow("boot loader") << 0x3620 << NorbyState::BootLoader << "ospreyx3";
    }

    void updates()
    {
        QFETCH(int, family);
        QFETCH(NorbyState, state);
        QFETCH(QString, product);

        testsupport::ZipPackage zip;
        const QString package = writePackage(zip, product.toStdString());
        const auto device = norby(uint16_t(family), state);
        vusb::Bus::instance().plug(topology_.hub, 2, device);
        Window window({}, package);
        QVERIFY(window.scanned(1));
        QCOMPARE(window.widget<QListWidget>("devicesList")->currentRow(), 0);
        QVERIFY(window.dialog.isPollingInputSignal());

        window.click("updateButton");
        QCOMPARE(window.starts.count(), 1);
        QVERIFY(!window.dialog.isEnabled());
        QVERIFY(!window.dialog.isPollingInputSignal());
        QVERIFY(window.widget("updateProgress")->isVisible());
        auto *label = window.widget<QLabel>("labelDoNotInterrupt");
        QVERIFY(label->isVisible());
        QCOMPARE(label->text(), QString(DoNotInterrupt));
        // Neither the window manager's close nor Escape takes the window away mid-flash.
        QVERIFY(!window.dialog.close());
        window.dialog.reject();
        QVERIFY(window.dialog.isVisible());

        QVERIFY(window.updated(1));
        auto *progress = window.widget<QProgressBar>("updateProgress");
        QCOMPARE(progress->value(), 100);
        QCOMPARE(progress->text(), QString("Update Completed"));
        QVERIFY(progress->isVisible());
        QVERIFY(label->isHidden());
        QVERIFY(window.dialog.isEnabled());
        QVERIFY(window.dialog.isPollingInputSignal());
        vusb::Bus::instance().locked([&] {
            QCOMPARE(bytesOf(device->flash().fx3Flash()), microcode);
            QCOMPARE(bytesOf(device->flash().fpgaFlash()), fpga);
            QCOMPARE(device->flash().edid(), product == "ospreyx3" ? std::vector<uint8_t>() : edid);
        });
        QVERIFY(window.dialog.close());
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
        row("SIGTERM", SIGTERM, "", "-", "-", "");
        row("SIGHUP", SIGHUP, "", "-", "-", "");
        row("SIGTERM during an update", SIGTERM, "update", goesOn, "Update Completed", "");
        row("SIGHUP during an update", SIGHUP, "update", goesOn, "Update Completed", "");
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
        const auto node = bus.plug(topology_.hub, 2, device);
        if (during == "failing update")
            bus.failRequest(node, {0xC1, 1, -1});
        // The update waits for a flash that stays busy until the window has taken the signal.
        UpdatePacing pacing = uitest::fastPacing;
        pacing.flashReadyTimeout = 10s;
        Window window({}, writePackage(zip, "kestrel3"), false, pacing);
        QVERIFY(window.scanned(1));
        std::atomic<bool> flashReady {false};
        bus.locked([&] { device->flash().setEmptyStatus(true); });
        bus.setTransferObserver([&flashReady, device](const vusb::TransferRecord &, auto &) {
            if (flashReady)
                device->flash().setEmptyStatus(false);
        });
        bus.setRecordTransfers(false); // the polls of the busy flash

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
        QCOMPARE(runApplication(), 0);

        QTEST(shown, "shown");
        QTEST(atQuit, "atQuit");
        QTEST(boxes_.takeLines().join(""), "box");
        QCOMPARE(int(window.starts.count()), during.isEmpty() ? 0 : 1);
        if (during == "update") {
            bus.locked([&] {
                QCOMPARE(bytesOf(device->flash().fx3Flash()), microcode);
                QCOMPARE(bytesOf(device->flash().fpgaFlash()), fpga);
            });
        }
    }

    // A file name need not be UTF-8: "pkg-\xff.fw" is shown as "pkg-\uFFFD.fw", as is the
    // decoy beside it, whose name is the UTF-8 of U+FFFD. Only the command line's bytes tell
    // them apart; the text alone is refused.
    void packageNames_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("flashed");

        QTest::newRow("command line") << "command line" << true;
        QTest::newRow("command line, then edited") << "edited" << false;
        QTest::newRow("file chooser") << "file chooser" << false;
    }

    void packageNames()
    {
        QFETCH(QString, how);
        QFETCH(bool, flashed);

        testsupport::ZipPackage zip;
        testsupport::ZipPackage decoyZip;
        testsupport::PackageImages decoyImages;
        decoyImages.microcode = patternBytes(5000, 7);
        decoyImages.fpga = patternBytes(10000, 8);
        const QByteArray folder = QFile::encodeName(zip.folder());
        const QByteArray named = folder + "/pkg-\xff.fw";
        QCOMPARE(std::rename(QFile::encodeName(writePackage(zip, "kestrel3")), named), 0);
        QCOMPARE(std::rename(QFile::encodeName(testsupport::writeUpdatePackage(
                                 decoyZip, "kestrel3", {}, decoyImages)),
                     folder + "/pkg-\xef\xbf\xbd.fw"),
            0);
        const QString shown = zip.folder() + QString::fromUtf8("/pkg-\uFFFD.fw");
        // QTemporaryDir removes by text, which names the decoy: gone by their bytes first.
        const Unlinked unlinked {{named, folder + "/pkg-\xef\xbf\xbd.fw"}};

        const auto device = norby(0x3600, NorbyState::Application);
        const auto node = vusb::Bus::instance().plug(topology_.hub, 2, device);
        const char *const argv[] = {"lumexor-capture-config", "-firmware", named.constData()};
        const CommandLine line = parseCommandLine(3, argv);
        Window window(line.filter, line.firmwarePath, line.autoUpdate);
        window.dialog.setFirmwareFile(line.firmwareFile);
        QVERIFY(window.scanned(1));
        auto *edit = window.widget<QLineEdit>("firmwareLineEdit");
        QCOMPARE(edit->text(), shown);
        if (how == "edited") {
            edit->clear();
            edit->insert(shown); // as pasted: keyClicks knows no U+FFFD
        } else if (how == "file chooser") {
            window.dialog.setFileChooser([&](QWidget *, const QString &, const QString &,
                                             const QString &) { return shown; });
            window.click("firmwareSelectButton");
        }
        QCOMPARE(edit->text(), shown);

        window.click("updateButton");
        QVERIFY(window.updated(1));
        const QStringList boxes = boxes_.takeLines();
        if (flashed) {
            QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join('\n')));
            vusb::Bus::instance().locked([&] {
                QCOMPARE(bytesOf(device->flash().fx3Flash()), microcode);
                QCOMPARE(bytesOf(device->flash().fpgaFlash()), fpga);
            });
        } else {
            QCOMPARE(boxes.size(), 1);
            QVERIFY2(
                boxes.first().startsWith("critical|Update Error|Cannot open firmware package: "),
                qPrintable(boxes.first()));
            for (const QString &line : testsupport::wire(node))
                QVERIFY2(!line.startsWith("40 "), qPrintable(line)); // nothing written
        }
    }

    void failures_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("error");

        QTest::newRow("no package")
            << QString("missing") << "Cannot open firmware package: No such file";
        QTest::newRow("other product")
            << QString("harrier3") << "Selected device and firmware incompatible";
        QTest::newRow("FPGA step fails")
            << QString("c1") << "Error: failed to start FPGA reflashing: LIBUSB_ERROR_PIPE";
    }

    void failures()
    {
        QFETCH(QString, setup);
        QFETCH(QString, error);

        testsupport::ZipPackage zip;
        QString package = writePackage(zip, setup == "harrier3" ? "harrier3" : "kestrel3");
        if (setup == "missing")
            package = zip.folder() + "/missing.fw";
        const auto node = vusb::Bus::instance().plug(
            topology_.root1, 1, norby(0x3600, NorbyState::Application));
        if (setup == "c1")
            vusb::Bus::instance().failRequest(node, {0xC1, 1, -1});
        Window window({}, package);
        QVERIFY(window.scanned(1));

        window.click("updateButton");
        QVERIFY(window.updated(1));
        QCOMPARE(boxes_.takeLines(), QStringList {"critical|Update Error|" + error});
        auto *progress = window.widget<QProgressBar>("updateProgress");
        QCOMPARE(progress->format(), QString("Update Error"));
        QVERIFY(progress->value() < 100);
        auto *label = window.widget<QLabel>("labelDoNotInterrupt");
        QVERIFY(!label->isHidden());
        QCOMPARE(label->text(), QString(Warning));
        QVERIFY(window.dialog.isEnabled());
        QVERIFY(window.widget("tabWidget")->isEnabled());

        // The warning stays until an update ends well; a selection change hides the bar.
        window.widget<QListWidget>("devicesList")->clearSelection();
        QVERIFY(progress->isHidden());
        QCOMPARE(label->text(), QString(Warning));
    }

    void refusals_data()
    {
        QTest::addColumn<int>("devices");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("box");

        const QString box = "warning|Lumexor Updater|Please select ";
        QTest::newRow("no device selected") << 2 << "a.fw" << box + "a device from the list";
        QTest::newRow("no package") << 1 << "" << box + "the firmware file";
    }

    void refusals()
    {
        QFETCH(int, devices);
        QFETCH(QString, path);

        for (int port = 1; port <= devices; ++port)
            vusb::Bus::instance().plug(
                topology_.root1, uint8_t(port), norby(0x3600, NorbyState::Application));
        Window window({}, path);
        QVERIFY(window.scanned(1));
        // The button is disabled without a path; the command line's update still calls it.
        window.invoke("on_updateButton_clicked");
        QTEST(boxes_.takeLines().join(""), "box");
        QCOMPARE(window.starts.count(), 0);
        QVERIFY(window.dialog.isEnabled());
        QVERIFY(window.widget("labelDoNotInterrupt")->isHidden());
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
        const QString package = withPackage ? writePackage(zip, "kestrel3") : QString();
        vusb::Bus &bus = vusb::Bus::instance();
        std::vector<vusb::NodeId> nodes;
        for (int port = 1; port <= devices; ++port)
            nodes.push_back(
                bus.plug(topology_.hub, uint8_t(port), norby(0x3600, NorbyState::Application)));
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
        QVERIFY(boxes_.takeLines().isEmpty());
    }

    void updateButtonFollowsThePath()
    {
        // The Firmware page is usable once a device is selected.
        vusb::Bus::instance().plug(topology_.root1, 1, norby(0x3600, NorbyState::Application));
        Window window;
        QVERIFY(window.scanned(1));
        auto *button = window.widget("updateButton");
        auto *edit = window.widget<QLineEdit>("firmwareLineEdit");
        QVERIFY(!button->isEnabled());
        QTest::keyClicks(edit, "x");
        QVERIFY(button->isEnabled());
        edit->clear();
        QVERIFY(!button->isEnabled());

        Window withPath({}, "given.fw");
        QVERIFY(withPath.scanned(1));
        QVERIFY(withPath.widget("updateButton")->isEnabled());
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

        vusb::Bus::instance().plug(topology_.root1, 1, norby(0x3600, NorbyState::Application));
        Window window({}, "old.fw");
        QVERIFY(window.scanned(1));
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
        QCOMPARE(window.widget<QLineEdit>("firmwareLineEdit")->text(),
            choose ? dir.path() + "/packages/../packages/new.fw" : QString("old.fw"));
        QCOMPARE(QSettings().value("firmware/path").toString(),
            choose ? QFileInfo(dir.path() + "/packages").canonicalFilePath() : "/stored/folder");
    }

private:
    QTemporaryDir settingsDir_;
    testsupport::Topology topology_;
    testsupport::BoxWatcher boxes_;
};

QTEST_MAIN(tst_FirmwarePage)
#include "tst_firmwarepage.moc"
