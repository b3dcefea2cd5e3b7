// The window's longest event-loop stall: the main window (offscreen) polls the input status of
// its device, then runs an update of it (16 MiB FPGA image, no pauses), and a 1 ms timer on
// the GUI thread notes the largest gap between two of its ticks in each phase. A gap is time
// the window could not react in. The polls come every 20 ms here instead of every two seconds,
// so that a short run sees many of them. Besides the gap, the longest single event the GUI
// thread dispatched is timed and named, which tells what a stall was made of.
//
// For reference, the same timer in an event loop with nothing else to do shows what the
// machine and the timer itself contribute.

#include "benchsupport.h"
#include "devicefilter.h"
#include "updaterepair.h"
#include "updatetask.h"

#include <QApplication>
#include <QEventLoop>
#include <QListWidget>
#include <QThread>
#include <QTimer>

#include <cstdio>

using namespace std::chrono_literals;

namespace {

const UpdatePacing noPauses {0ms, 0ms, 0ms, flashReadyTimeout};
constexpr std::size_t fpgaBytes = 16 * 1024 * 1024;
constexpr int pollPhaseMs = 600;
constexpr int pollEveryMs = 20;

// Times every event the GUI thread dispatches from its event loop (not the ones sent from
// inside another event's handling, which count towards that one).
class TimedApplication : public QApplication
{
public:
    using QApplication::QApplication;

    bool notify(QObject *receiver, QEvent *event) override
    {
        // Every thread's events pass through here; the workers' are not the window's.
        if (QThread::currentThread() != thread())
            return QApplication::notify(receiver, event);
        if (depth_ > 0) {
            ++depth_;
            const bool handled = QApplication::notify(receiver, event);
            --depth_;
            return handled;
        }
        ++depth_;
        // The event, and the receiver (a single-shot timer), may be gone afterwards.
        const QEvent::Type type = event->type();
        const char *receiverClass = receiver->metaObject()->className();
        const bench::Clock::time_point start = bench::Clock::now();
        const bool handled = QApplication::notify(receiver, event);
        const double ms = bench::millisecondsSince(start);
        --depth_;
        if (ms > longestMs) {
            longestMs = ms;
            longestWhat
                = QStringLiteral("%1 to %2").arg(int(type)).arg(QString::fromLatin1(receiverClass));
        }
        return handled;
    }

    double longestMs = 0;
    QString longestWhat;

private:
    int depth_ = 0;
};

// The 1 ms ticker: the largest gap between two ticks since the last reset.
class Ticker : public QObject
{
public:
    Ticker()
    {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1);
        connect(&timer_, &QTimer::timeout, this, [this] {
            const bench::Clock::time_point now = bench::Clock::now();
            const double gap = std::chrono::duration<double, std::milli>(now - last_).count();
            if (gap > largestGapMs) {
                largestGapMs = gap;
                largestGapEndMs = std::chrono::duration<double, std::milli>(now - start_).count();
            }
            last_ = now;
        });
        timer_.start();
    }

    void reset(TimedApplication &app)
    {
        start_ = last_ = bench::Clock::now();
        largestGapMs = 0;
        largestGapEndMs = 0;
        app.longestMs = 0;
        app.longestWhat.clear();
    }

    double largestGapMs = 0;
    // When the largest gap ended, from the reset: tells a stall at the start of a phase (the
    // window reacting to the click) from one in its course.
    double largestGapEndMs = 0;

private:
    QTimer timer_;
    bench::Clock::time_point start_ = bench::Clock::now();
    bench::Clock::time_point last_ = start_;
};

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until `done` holds; false after `limitMs`. The loop sleeps between
// events as the application's does (a loop around processEvents would keep a processor busy
// that the update's worker needs), and looks at `done` every 5 ms.
bool spinUntil(const std::function<bool()> &done, int limitMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(5);
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

struct Phase {
    std::vector<double> gaps;
    std::vector<double> longestEvents;
    QString worstEvent;
    double worstEventMs = 0;

    void add(const Ticker &ticker, const TimedApplication &app)
    {
        gaps.push_back(ticker.largestGapMs);
        longestEvents.push_back(app.longestMs);
        if (app.longestMs > worstEventMs) {
            worstEventMs = app.longestMs;
            worstEvent = app.longestWhat;
        }
    }

    void print(const char *name, const char *row, const char *target) const
    {
        const bench::Figures g = bench::figuresOf(gaps);
        const bench::Figures e = bench::figuresOf(longestEvents);
        std::printf("%s\n", name);
        bench::printFigures("  largest tick gap (ms)", g, "ms");
        bench::printFigures("  longest event (ms)", e, "ms");
        std::printf(
            "  the longest event of all: %.3f ms, type %s\n", worstEventMs, qPrintable(worstEvent));
        bench::printRow(QString::fromLatin1(row), QString::fromLatin1(target), bench::number(g.min),
            bench::number(g.median), "-", "-");
    }
};

} // namespace

int main(int argc, char **argv)
{
    // No display needed, as in the widget tests.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TimedApplication app(argc, argv);
    const int reps = bench::repetitions(argc, argv, 9);

    testsupport::ZipPackage zip;
    const QString package
        = bench::writeKestrelPackage(zip, fpgaBytes, testsupport::ZipPackage::Deflated);
    if (package.isEmpty())
        return 1;

    Ticker ticker;
    Phase idle, polling, updating;
    for (int rep = 0; rep < reps; ++rep) {
        ticker.reset(app);
        spin(pollPhaseMs);
        idle.add(ticker, app);
    }

    const vusb::NodeId node = bench::freshBus(bench::kestrel3());
    {
        UpdateRepair window(nullptr, DeviceFilter {}, package, false, noPauses);
        window.show();
        auto *list = window.findChild<QListWidget *>(QStringLiteral("devicesList"));
        auto *task = window.findChild<UpdateTask *>();
        if (!list || !task || !spinUntil([&] { return list->currentRow() == 0; }, 10000)) {
            std::fprintf(stderr, "the window did not find the device\n");
            return 1;
        }
        int updates = 0;
        bool failed = false;
        QObject::connect(task, &UpdateTask::complete, [&] { ++updates; });
        QObject::connect(task, &UpdateTask::error, [&](const QString &text) {
            std::fprintf(stderr, "update failed: %s\n", qPrintable(text));
            failed = true;
        });
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &window,
            [&] { QMetaObject::invokeMethod(&window, "onInputStatusTimer"); });

        for (int rep = 0; rep < reps; ++rep) {
            spinUntil([&] { return window.isPollingInputSignal(); }, 10000);
            // Every poll opens the device once: the count shows the polls did go out.
            const int opensBefore = vusb::Bus::instance().openCalls(node);
            poll.start(pollEveryMs);
            ticker.reset(app);
            spin(pollPhaseMs);
            poll.stop();
            polling.add(ticker, app);
            const int polls = vusb::Bus::instance().openCalls(node) - opensBefore;

            ticker.reset(app);
            const bench::Clock::time_point updateStart = bench::Clock::now();
            QMetaObject::invokeMethod(&window, "on_updateButton_clicked");
            if (!spinUntil([&] { return updates == rep + 1; }, 60000) || failed) {
                std::fprintf(stderr, "the update did not complete\n");
                return 1;
            }
            const double updateMs = bench::millisecondsSince(updateStart);
            updating.add(ticker, app);
            bench::printSample("stall", rep,
                QStringLiteral("idle %1 ms  polling %2 ms (%3 polls)  updating %4 ms, ending %5 ms "
                               "into the %6 ms update (longest event %7 ms)")
                    .arg(bench::number(idle.gaps[rep]), bench::number(polling.gaps.back()))
                    .arg(polls)
                    .arg(bench::number(updating.gaps.back()),
                        bench::number(ticker.largestGapEndMs, 1), bench::number(updateMs, 1),
                        bench::number(updating.longestEvents.back())));
        }
        spinUntil([&] { return window.isPollingInputSignal(); }, 10000);
    } // the window stops its threads; none holds a device any more
    vusb::Bus::instance().reset();

    // The rows name the figure: the largest gap between two ticks of the 1 ms timer.
    idle.print("idle event loop (reference)", "stall, idle event loop (ms)", "reference");
    polling.print(
        "window polling the input status", "stall, window polling input (ms)", "<= 16 ms");
    updating.print("window during an update", "stall, window updating (ms)", "<= 16 ms");
    return 0;
}
