#pragma once

#include <QByteArray>
#include <QString>

// A Linux file name is any run of bytes; Qt shows it as text, and a name that is not valid in
// the locale's encoding (UTF-8) comes out with U+FFFD where its odd bytes were. Encoding that
// text again gives other bytes: those of a different file, perhaps one placed beside the
// package to be flashed instead of it. So the update opens a package by the bytes of its name,
// taken from the command line as they came, or worked out from the text here.

// The bytes of the path that `shown` names, `shown` being a path as the user sees it (typed,
// or picked in the file dialog). A text that the encoding gives back unchanged is encoded; one
// that it does not (a name shown with U+FFFD) is looked up in its folder, one part of the path
// at a time, among the names that are shown that way (a name that really holds U+FFFD among
// them). Empty when no file, or more than one,
// has that name as shown; `why` then tells which, in a text for people.
QByteArray packagePathBytes(const QString &shown, QString *why = nullptr);

// The path as the user sees it.
QString packagePathText(const QByteArray &path);

// The bytes of the command-line argument whose text is `shown`, as the program got them in
// `argv`: the argument parsers see text, and the bytes behind a name with U+FFFD in it are
// otherwise lost. When more than one argument is shown as `shown` with different bytes, the
// text is looked up as packagePathBytes does; `why` as there.
QByteArray argumentPathBytes(
    const QString &shown, int argc, const char *const *argv, QString *why = nullptr);
