#pragma once

#include <QDialog>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTest>

#include <functional>

// Fails the running test when the watcher saw anything the test did not account for: boxes it
// did not take, a box or dialog still open, answers or dialog handlers nothing used, or an
// answer naming a button the box did not have. Clears what it reports, so a watcher kept
// across test functions starts the next one clean; meant for the end of a test or cleanup().
#define VERIFY_NO_UNEXPECTED_BOXES(watcher)                                                        \
    do {                                                                                           \
        const QString report_ = (watcher).takeUnexpected();                                        \
        QVERIFY2(report_.isEmpty(), qPrintable(report_));                                          \
    } while (false)

namespace testsupport {

// One message box or modal dialog as it appeared on screen.
struct Box {
    // From the message box's icon: "warning", "critical", "information", "question", or
    // "message" when it has none; "dialog" for any other modal dialog.
    QString kind;
    QString title;
    // The message box's text; for another dialog its class name (e.g. "QFileDialog"), so a
    // test can tell which dialog it was from the title and this alone.
    QString text;
    QString informativeText; // message boxes only, usually empty

    // "kind|title|text", with "|informative text" added only when there is one: one string a
    // test can compare whole.
    QString toString() const;
};

// Watches for message boxes and modal dialogs for its lifetime, records each one as it is
// shown and closes it, so a widget test can neither hang in a box's exec() nor miss that one
// appeared. Boxes are recorded in the order they were shown, also those opened from the nested
// event loop of another box, and each is closed from within its own exec() loop (a queued call)
// so that exec() returns normally to the code that opened it.
//
// Without instructions the watcher answers as a user pressing Escape would: a message box gets
// its escape button (the only button, Cancel, No, ...), any other dialog is rejected. A test
// queues answerNextBox() or handleNextDialog() before the code under test opens the box.
//
// Dialogs other than message boxes are watched only while modal, and progress dialogs never:
// those show themselves after a delay, and closing one would cancel the work it reports on.
// While the watcher lives, the application uses Qt's own dialogs, not the platform's, so a file
// dialog is an ordinary QFileDialog a handler can fill in.
//
// Needs the QApplication; only the GUI thread's widgets are seen.
class BoxWatcher : public QObject
{
    Q_OBJECT

public:
    using DialogHandler = std::function<void(QDialog *)>;

    explicit BoxWatcher(QObject *parent = nullptr);
    BoxWatcher(const BoxWatcher &) = delete;
    BoxWatcher &operator=(const BoxWatcher &) = delete;
    ~BoxWatcher() override;

    // What was shown since the last take(), oldest first.
    QList<Box> boxes() const { return boxes_; }
    QStringList lines() const; // boxes() as Box::toString()
    // Returns what boxes() and lines() would and forgets it: the test has accounted for it.
    QList<Box> take();
    QStringList takeLines();

    // Runs the event loop until at least `count` boxes were recorded since the last take() and
    // none of the watched boxes or dialogs is still open; false when that did not happen
    // within `timeoutMs`.
    [[nodiscard]] bool waitForBoxes(int count, int timeoutMs = 5000);
    bool allClosed() const;

    // The next message box to be shown gets `button` clicked instead of its escape button;
    // queued answers are used one per box in the order the boxes appear. A box without that
    // button is closed with its escape button and reported by takeUnexpected().
    void answerNextBox(QMessageBox::StandardButton button);

    // The next modal dialog (not a message box) to be shown is passed to `handler` from within
    // its exec() loop; handlers are used one per dialog in the order the dialogs appear. If the
    // dialog is still open when the handler returns, the watcher rejects it. For a file dialog:
    //     watcher.handleNextDialog([&](QDialog *dialog) {
    //         auto *files = qobject_cast<QFileDialog *>(dialog);
    //         QVERIFY(files);
    //         files->selectFile(path);
    //         dialog->accept(); // QFileDialog's own accept() is protected; this calls it
    //     });
    void handleNextDialog(DialogHandler handler);

    // Everything the test did not account for, one a line, empty when there is nothing; clears
    // it (see VERIFY_NO_UNEXPECTED_BOXES).
    QString takeUnexpected();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void watchMessageBox(QMessageBox *box);
    void watchDialog(QDialog *dialog);
    void track(QDialog *dialog);

    QList<Box> boxes_;
    QList<QPointer<QDialog>> open_;
    QList<QMessageBox::StandardButton> answers_;
    QList<DialogHandler> handlers_;
    QStringList problems_;
    bool nativeDialogsWereOff_;
};

} // namespace testsupport
