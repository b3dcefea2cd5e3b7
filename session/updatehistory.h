#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <functional>
#include <vector>

// What was flashed where: every update and repair, from the window and from the command line,
// as one JSON line in $XDG_STATE_HOME/lumexor-capture-config/history.jsonl (the state folder
// defaults to ~/.local/state). Several update jobs of one process and several processes append
// to the same file at once, so a record goes out in one write(2) on an O_APPEND descriptor,
// which the kernel never interleaves with another; past 1 MiB the file is moved to
// history.jsonl.1 (replacing the one before) under a lock that all writers take.
namespace updatehistory {

struct Record {
    QString time; // ISO 8601, UTC, whole seconds
    QString program; // "window" or "cli"
    QString product;
    QString port; // "BUS-PATH" as the command line shows it, such as 2-3.1
    QString serial;
    QString versionBefore;
    QString package; // the absolute path, as text
    QByteArray sha256; // hexadecimal; empty when the package file could not be read
    bool success = false;
    QString error; // the update's first error text; empty on success
};

// The file grows to this size before it is rotated.
constexpr qint64 rotateBytes = 1024 * 1024;

// The history's folder and its current file.
QString folder();
QString filePath();

QJsonObject toJson(const Record &record);
// "cli" in the command-line tool, "window" elsewhere.
QString programName();
// The present moment as a record writes it.
QString now();

// Appends `record`; false when it could not be written whole, after a warning in the log. A
// history that cannot be written never fails the update it tells of.
bool append(const Record &record);

// The records of the rotated file, then of the current one, oldest first. A line that is not
// a JSON object is skipped and told to `damaged` (the file's path and the line's number).
std::vector<QJsonObject> read(const std::function<void(const QString &file, int line)> &damaged);

} // namespace updatehistory
