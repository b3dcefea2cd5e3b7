#include "boxwatcher.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QProgressDialog>

#include <algorithm>

namespace testsupport {

namespace {

QString kindOf(QMessageBox::Icon icon)
{
    static const char *const kinds[]
        = {"message", "information", "warning", "critical", "question"};
    return QString::fromLatin1(kinds[icon >= 0 && icon <= QMessageBox::Question ? icon : 0]);
}

QString describe(QDialog *dialog)
{
    if (auto *box = qobject_cast<QMessageBox *>(dialog))
        return kindOf(box->icon()) + '|' + box->windowTitle() + '|' + box->text();
    return "dialog|" + dialog->windowTitle() + '|' + dialog->metaObject()->className();
}

// What a user pressing Escape gets: a message box clicks the escape button it detected itself
// (the only button, Cancel, No, ...), so exec() returns that button. Anything that ignores the
// key is rejected.
void pressEscape(QDialog *dialog)
{
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(dialog, &escape);
    if (dialog->isVisible())
        dialog->reject();
}

} // namespace

BoxWatcher::BoxWatcher()
{
    if (!QCoreApplication::instance())
        qFatal("BoxWatcher needs the QApplication to exist first");
    QCoreApplication::instance()->installEventFilter(this);
}

BoxWatcher::~BoxWatcher()
{
    QCoreApplication::instance()->removeEventFilter(this);
}

QStringList BoxWatcher::takeLines()
{
    QStringList taken;
    taken.swap(boxes_);
    return taken;
}

bool BoxWatcher::waitForBoxes(int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return boxes_.size() >= count && allClosed(); }, timeoutMs);
}

bool BoxWatcher::allClosed() const
{
    return std::none_of(open_.cbegin(), open_.cend(),
        [](const QPointer<QDialog> &dialog) { return dialog && dialog->isVisible(); });
}

QString BoxWatcher::takeUnexpected()
{
    QStringList report;
    for (const QString &box : boxes_)
        report << "box the test did not take: " + box;
    for (const QPointer<QDialog> &dialog : open_) {
        if (dialog && dialog->isVisible())
            report << "still open: " + describe(dialog);
    }
    boxes_.clear();
    open_.clear();
    return report.join('\n');
}

// The show event comes from within show(), before exec() has started its event loop: closing
// the box right here would leave exec() waiting for a quit that already happened. A call queued
// on the box runs inside that loop instead (or a nested one, which works as well); it is
// dropped if the box goes away first.
bool BoxWatcher::eventFilter(QObject *watched, QEvent *event)
{
    // Every event of the GUI thread passes here: leave as soon as it cannot be a box shown.
    if (event->type() != QEvent::Show || !watched->isWidgetType())
        return false;
    auto *dialog = qobject_cast<QDialog *>(watched);
    if (!dialog || !dialog->isWindow()
        || (!qobject_cast<QMessageBox *>(dialog)
            && (!dialog->isModal() || qobject_cast<QProgressDialog *>(dialog))))
        return false;

    boxes_ << describe(dialog);
    open_.erase(std::remove_if(open_.begin(), open_.end(),
                    [](const QPointer<QDialog> &open) { return !open || !open->isVisible(); }),
        open_.end());
    open_ << dialog;
    QAbstractButton *answer = nullptr;
    if (auto *box = qobject_cast<QMessageBox *>(dialog); box && answer_) {
        answer = box->button(QMessageBox::StandardButton(answer_));
        answer_ = 0;
    }
    QMetaObject::invokeMethod(
        dialog,
        [dialog, answer = QPointer<QAbstractButton>(answer)] {
            if (!dialog->isVisible())
                return;
            if (answer)
                answer->click();
            else
                pressEscape(dialog);
        },
        Qt::QueuedConnection);
    return false;
}

} // namespace testsupport
