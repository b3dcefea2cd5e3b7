#pragma once

#include <QDialog>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTest>

// Fails the running test when the watcher saw a box the test did not take, or one is still
// open. Clears what it reports, so a watcher kept across test functions starts the next one
// clean; meant for cleanup().
#define VERIFY_NO_UNEXPECTED_BOXES(watcher)                                                        \
    do {                                                                                           \
        const QString report_ = (watcher).takeUnexpected();                                        \
        QVERIFY2(report_.isEmpty(), qPrintable(report_));                                          \
    } while (false)

namespace testsupport {

// Watches for message boxes and other modal dialogs for its lifetime, records each one as
// "kind|title|text" when it is shown and closes it as a user pressing Escape would, so a widget
// test can neither hang in a box's exec() nor miss that one appeared. The kind comes from the
// message box's icon ("warning", "critical", "information", "question", "message"); any other
// modal dialog is "dialog" with its class name as the text. Boxes opened from the nested event
// loop of another are recorded in the order they appear. Needs the QApplication.
class BoxWatcher : public QObject
{
    Q_OBJECT

public:
    BoxWatcher();
    BoxWatcher(const BoxWatcher &) = delete;
    BoxWatcher &operator=(const BoxWatcher &) = delete;
    ~BoxWatcher() override;

    // What was shown since the last take, oldest first, and forgets it: the test has
    // accounted for it.
    QStringList takeLines();
    // Runs the event loop until at least `count` boxes were recorded since the last take and
    // all of them are closed again; false when that did not happen within `timeoutMs`.
    [[nodiscard]] bool waitForBoxes(int count, int timeoutMs = 5000);
    // Boxes not taken and boxes still open, one a line; empty when there are none. Clears it.
    QString takeUnexpected();
    // The next message box is answered with its button `button` (a QMessageBox::StandardButton)
    // instead of Escape.
    void answerNext(int button) { answer_ = button; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool allClosed() const;

    QStringList boxes_;
    QList<QPointer<QDialog>> open_;
    int answer_ = 0;
};

} // namespace testsupport
