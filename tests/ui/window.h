#pragma once

#include "boxwatcher.h"
#include "bustestcase.h"
#include "devicescanner.h"
#include "norbydevice.h"
#include "updaterepair.h"
#include "updatetask.h"

#include <QtTest>
#include <QtWidgets>

#include <chrono>
#include <memory>
#include <string>
#include <tuple>

using namespace std::chrono_literals;

namespace uitest {

inline std::shared_ptr<vdev::NorbyDevice> norby(uint16_t family, vdev::NorbyState state,
    std::string serial = "A1B2C3D4", std::string version = "3.2.1",
    std::string product = "KESTREL3")
{
    vdev::NorbyDevice::Config config;
    config.familyId = family;
    config.state = state;
    std::tie(config.serial, config.version, config.product) = std::tie(serial, version, product);
    return std::make_shared<vdev::NorbyDevice>(config);
}

// No waits between the flashing steps; a restarted device (back in 20 ms) is looked for after
// 100 ms.
inline const UpdatePacing fastPacing {0ms, 100ms, 0ms, 2000ms};

// The dialog as the entry point makes and shows it, with what its scanner and update task report.
class Window
{
public:
    explicit Window(const DeviceFilter &filter = {}, const QString &firmwarePath = QString(),
        bool autoUpdate = false, const UpdatePacing &pacing = fastPacing)
        : dialog(nullptr, filter, firmwarePath, autoUpdate, pacing)
        , scans(dialog.findChild<DeviceScanner *>(), &DeviceScanner::complete)
        , starts(dialog.findChild<UpdateTask *>(), &UpdateTask::start)
        , updates(dialog.findChild<UpdateTask *>(), &UpdateTask::complete)
    {
        dialog.show();
    }

    // True when exactly `count` scans (updates) have ended, within a bound.
    bool scanned(int count) { return reached(scans, count); }
    bool updated(int count) { return reached(updates, count); }

    template<typename T = QWidget> T *widget(const char *name)
    {
        T *found = dialog.findChild<T *>(QLatin1String(name));
        if (!found)
            qFatal("no widget %s", name);
        return found;
    }

    QStringList entries()
    {
        QStringList texts;
        auto *list = widget<QListWidget>("devicesList");
        for (int row = 0; row < list->count(); ++row)
            texts << list->item(row)->text();
        return texts;
    }

    // The enabled state of the pages and check boxes as the capabilities set it, one letter
    // each (Settings, Aspect ratio, Performance, Audio, User modes; "-" when off), read
    // below the tab widget so it tells apart what the capabilities disabled.
    QString pages()
    {
        auto *tabs = widget<QTabWidget>("tabWidget");
        auto *settings = widget("tabSettings");
        QString letters;
        letters += settings->isEnabledTo(tabs) ? 'S' : '-';
        letters += widget("keepAspectRatioCheckBox")->isEnabledTo(settings) ? 'A' : '-';
        letters += widget("performanceModeCheckBox")->isEnabledTo(settings) ? 'P' : '-';
        letters += widget("audioSelectorCheckBox")->isEnabledTo(settings) ? 'M' : '-';
        letters += widget("tabUserMode")->isEnabledTo(tabs) ? 'U' : '-';
        return letters;
    }

    void showPage(const char *page)
    {
        widget<QTabWidget>("tabWidget")->setCurrentWidget(widget(page));
    }

    void click(const char *button) { QTest::mouseClick(widget(button), Qt::LeftButton); }

    // Runs one of the dialog's slots, as its signal would.
    void invoke(const char *slot) { QVERIFY(QMetaObject::invokeMethod(&dialog, slot)); }

    UpdateRepair dialog;
    QSignalSpy scans;
    QSignalSpy starts;
    QSignalSpy updates;

private:
    static bool reached(QSignalSpy &spy, int count)
    {
        return QTest::qWaitFor([&] { return spy.count() >= count; }, 10000) && spy.count() == count;
    }
};

// Base of the window tests: every test function starts on the two-bus topology with nothing
// plugged, and fails if a box was shown that it did not take, or one is still open.
class WindowTestCase : public testsupport::BusTestCase
{
    Q_OBJECT

protected slots:
    void init()
    {
        testsupport::BusTestCase::init();
        topology = testsupport::Topology::build();
    }
    void cleanup()
    {
        VERIFY_NO_UNEXPECTED_BOXES(boxes);
        testsupport::BusTestCase::cleanup();
    }

protected:
    testsupport::Topology topology;
    testsupport::BoxWatcher boxes;
};

} // namespace uitest

// What every window test names.
using uitest::norby;
using uitest::Window;
using vdev::NorbyState;
