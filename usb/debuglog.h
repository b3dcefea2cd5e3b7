#pragma once

#include <QLoggingCategory>

// The diagnostics of discovery, the dialog and the update go to Qt's debug output in its
// "default" category, the category of a plain qDebug(). Unlike qDebug(), qCDebug(defaultLog)
// checks first whether that output is on, so a line inside a loop over devices or flash
// chunks costs nothing to format when QT_LOGGING_RULES="default.debug=false" switches it off.
inline const QLoggingCategory &defaultLog()
{
    return *QLoggingCategory::defaultCategory();
}
