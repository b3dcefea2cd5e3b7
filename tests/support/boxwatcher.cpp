#include "boxwatcher.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QMetaEnum>
#include <QProgressDialog>
#include <QtGlobal>

#include <algorithm>

namespace testsupport {

namespace {

QString kindOf(QMessageBox::Icon icon)
{
    switch (icon) {
    case QMessageBox::Warning:
        return QStringLiteral("warning");
    case QMessageBox::Critical:
        return QStringLiteral("critical");
    case QMessageBox::Information:
        return QStringLiteral("information");
    case QMessageBox::Question:
        return QStringLiteral("question");
    case QMessageBox::NoIcon:
        break;
    }
    return QStringLiteral("message");
}

Box describe(QDialog *dialog)
{
    if (auto *box = qobject_cast<QMessageBox *>(dialog))
        return {kindOf(box->icon()), box->windowTitle(), box->text(), box->informativeText()};
    return {QStringLiteral("dialog"), dialog->windowTitle(),
        QString::fromLatin1(dialog->metaObject()->className()), QString()};
}

QString buttonName(QMessageBox::StandardButton button)
{
    const char *key = QMetaEnum::fromType<QMessageBox::StandardButtons>().valueToKey(button);
    return key ? QString::fromLatin1(key) : QString::number(button);
}

// What a user pressing Escape gets: QMessageBox clicks the escape button it detected itself
// (the only button, Cancel, No, ...), which also makes exec() return that button. A box with no
// such button ignores the key, and is rejected like any other dialog.
void pressEscape(QDialog *dialog)
{
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(dialog, &escape);
    if (dialog->isVisible())
        dialog->reject();
}

} // namespace

QString Box::toString() const
{
    QStringList fields {kind, title, text};
    if (!informativeText.isEmpty())
        fields << informativeText;
    return fields.join(QLatin1Char('|'));
}

BoxWatcher::BoxWatcher(QObject *parent)
    : QObject(parent)
    , nativeDialogsWereOff_(QCoreApplication::testAttribute(Qt::AA_DontUseNativeDialogs))
{
    if (!QCoreApplication::instance())
        qFatal("BoxWatcher needs the QApplication to exist first");
    // A platform file dialog is no QWidget a test could fill in, and may not even be visible
    // to the watcher; Qt's own is.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs, true);
    QCoreApplication::instance()->installEventFilter(this);
}

BoxWatcher::~BoxWatcher()
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->removeEventFilter(this);
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs, nativeDialogsWereOff_);
    // Only a hint for a test that forgot VERIFY_NO_UNEXPECTED_BOXES: a destructor cannot fail
    // the test. Closes still pending were queued on the boxes, so they happen without us.
    if (!boxes_.isEmpty())
        qWarning(
            "BoxWatcher: boxes no test took: %s", qPrintable(lines().join(QLatin1String("; "))));
}

QStringList BoxWatcher::lines() const
{
    QStringList result;
    for (const Box &box : boxes_)
        result << box.toString();
    return result;
}

QList<Box> BoxWatcher::take()
{
    QList<Box> result;
    result.swap(boxes_);
    return result;
}

QStringList BoxWatcher::takeLines()
{
    const QStringList result = lines();
    boxes_.clear();
    return result;
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

void BoxWatcher::answerNextBox(QMessageBox::StandardButton button)
{
    answers_ << button;
}

void BoxWatcher::handleNextDialog(DialogHandler handler)
{
    handlers_ << std::move(handler);
}

QString BoxWatcher::takeUnexpected()
{
    QStringList report;
    for (const Box &box : boxes_)
        report << QStringLiteral("box the test did not take: ") + box.toString();
    for (const QPointer<QDialog> &dialog : open_) {
        if (dialog && dialog->isVisible())
            report << QStringLiteral("still open: ") + describe(dialog).toString();
    }
    for (QMessageBox::StandardButton answer : answers_)
        report << QStringLiteral("answer %1 queued for a box that never appeared")
                      .arg(buttonName(answer));
    if (!handlers_.isEmpty())
        report << QStringLiteral("%1 dialog handler(s) queued for dialogs that never appeared")
                      .arg(handlers_.size());
    report << problems_;

    boxes_.clear();
    answers_.clear();
    handlers_.clear();
    problems_.clear();
    return report.join(QLatin1Char('\n'));
}

bool BoxWatcher::eventFilter(QObject *watched, QEvent *event)
{
    // Every event of the GUI thread passes here: leave as soon as it cannot be a dialog shown.
    if (event->type() != QEvent::Show || !watched->isWidgetType())
        return false;
    auto *dialog = qobject_cast<QDialog *>(watched);
    if (!dialog || !dialog->isWindow())
        return false;
    if (auto *box = qobject_cast<QMessageBox *>(dialog))
        watchMessageBox(box);
    else if (dialog->isModal() && !qobject_cast<QProgressDialog *>(dialog))
        watchDialog(dialog);
    return false;
}

// The show event comes from within show(), before exec() has started its event loop: closing
// the box right here would leave exec() waiting for a quit that already happened. A call queued
// on the box runs inside that loop instead, or in whichever nested loop comes first, which
// works just as well. The call's context is the box, so it is dropped if the box goes away
// first, and it still closes the box if the watcher is already gone.
void BoxWatcher::watchMessageBox(QMessageBox *box)
{
    boxes_ << describe(box);
    track(box);
    const QMessageBox::StandardButton answer
        = answers_.isEmpty() ? QMessageBox::NoButton : answers_.takeFirst();
    const QPointer<BoxWatcher> self(this);
    QMetaObject::invokeMethod(
        box,
        [box, answer, self] {
            if (!box->isVisible()) // closed by the code under test itself
                return;
            if (answer != QMessageBox::NoButton) {
                if (QAbstractButton *button = box->button(answer)) {
                    button->click();
                    return;
                }
                if (self)
                    self->problems_ << QStringLiteral("no button %1 on box %2")
                                           .arg(buttonName(answer), describe(box).toString());
            }
            pressEscape(box);
        },
        Qt::QueuedConnection);
}

void BoxWatcher::watchDialog(QDialog *dialog)
{
    boxes_ << describe(dialog);
    track(dialog);
    DialogHandler handler = handlers_.isEmpty() ? DialogHandler() : handlers_.takeFirst();
    QMetaObject::invokeMethod(
        dialog,
        [dialog, handler] {
            if (!dialog->isVisible())
                return;
            // The handler may close the dialog, open boxes from it, or even delete it.
            const QPointer<QDialog> guard(dialog);
            if (handler)
                handler(dialog);
            if (guard && guard->isVisible())
                guard->reject();
        },
        Qt::QueuedConnection);
}

void BoxWatcher::track(QDialog *dialog)
{
    // Forget what was closed or destroyed, so the list does not grow over a long test.
    open_.erase(std::remove_if(open_.begin(), open_.end(),
                    [](const QPointer<QDialog> &open) { return !open || !open->isVisible(); }),
        open_.end());
    if (!open_.contains(dialog))
        open_ << dialog;
}

} // namespace testsupport
