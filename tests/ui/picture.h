#pragma once

// What the two picture programs of this folder share: waits with a bound that name what never
// came, the picture file, and the run's end, which a box in front of the window fails.

#include "boxwatcher.h"

#include <QCoreApplication>
#include <QTest>
#include <QWidget>

#include <cstdio>
#include <functional>

namespace picture {

inline bool waitFor(const std::function<bool()> &condition, const char *what, int limitMs = 10000)
{
    if (QTest::qWaitFor(condition, limitMs))
        return true;
    std::fprintf(stderr, "gave up waiting for %s\n", what);
    return false;
}

inline bool save(QWidget &widget, const QString &path)
{
    QCoreApplication::processEvents();
    if (widget.grab().save(path, "PNG"))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

// The exit status of a run that `drawn` its pictures: a box would have stood in front of them,
// so any box `boxes` closed fails it.
inline int exitStatus(bool drawn, testsupport::BoxWatcher &boxes)
{
    const QStringList unexpected = boxes.takeLines();
    for (const QString &box : unexpected)
        std::fprintf(stderr, "unexpected box: %s\n", qPrintable(box));
    return drawn && unexpected.isEmpty() ? 0 : 1;
}

} // namespace picture
