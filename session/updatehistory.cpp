#include "updatehistory.h"

#include "debuglog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace updatehistory {

namespace {

// A descriptor closed with its owner; closing the lock file's descriptor drops its lock.
class Descriptor
{
public:
    explicit Descriptor(int fd)
        : fd_(fd)
    {
    }
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// `error` is taken before `what` is formatted, which may allocate and change errno.
void warn(int error, const QString &what)
{
    qCWarning(defaultLog).noquote()
        << "Update history:" << what << QString::fromLocal8Bit(std::strerror(error));
}

// The folder and every missing one above it, private to the user (the XDG base directory
// rules ask for 0700), as a string of its bytes.
bool makeFolder(const QByteArray &path)
{
    for (int i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/')
            continue;
        if (::mkdir(path.left(i).constData(), 0700) != 0 && errno != EEXIST) {
            const int error = errno;
            warn(error, QStringLiteral("cannot create %1:").arg(QFile::decodeName(path.left(i))));
            return false;
        }
    }
    return true;
}

QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

void readFile(const QString &path, std::vector<QJsonObject> &records,
    const std::function<void(const QString &, int)> &damaged)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i].isEmpty())
            continue;
        const QJsonDocument document = QJsonDocument::fromJson(lines[i]);
        if (document.isObject())
            records.push_back(document.object());
        else if (damaged)
            damaged(path, i + 1);
    }
}

} // namespace

QString folder()
{
    // The base directory rules: a relative or empty XDG_STATE_HOME is to be ignored.
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/lumexor-capture-config");
}

QString filePath()
{
    return folder() + QStringLiteral("/history.jsonl");
}

QString programName()
{
    return QCoreApplication::applicationName() == QLatin1String("lumexor-capture-cli")
        ? QStringLiteral("cli")
        : QStringLiteral("window");
}

QString now()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
}

QJsonObject toJson(const Record &r)
{
    return QJsonObject {{"time", r.time}, {"program", r.program}, {"product", r.product},
        {"port", r.port}, {"serial", r.serial}, {"versionBefore", r.versionBefore},
        {"package", r.package}, {"sha256", textOrNull(QString::fromLatin1(r.sha256))},
        {"result", r.success ? "success" : "failure"}, {"error", textOrNull(r.error)}};
}

bool append(const Record &record)
{
    const QByteArray line = QJsonDocument(toJson(record)).toJson(QJsonDocument::Compact) + '\n';
    const QByteArray dir = QFile::encodeName(folder());
    if (!makeFolder(dir))
        return false;
    const QByteArray path = dir + "/history.jsonl";

    // The lock covers the size check, the rotation and the write, so no writer renames the
    // file away while another has checked it, or appends to a file that is being replaced.
    // Without it (a file system that refuses flock) the records still arrive whole.
    const Descriptor lock(
        ::open((dir + "/history.lock").constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (lock.get() < 0)
        warn(errno, QStringLiteral("no lock file:"));
    while (lock.get() >= 0 && ::flock(lock.get(), LOCK_EX) != 0 && errno == EINTR) { }

    struct stat status = {};
    if (::stat(path.constData(), &status) == 0 && status.st_size > rotateBytes
        && ::rename(path.constData(), (path + ".1").constData()) != 0) {
        const int error = errno;
        warn(error, QStringLiteral("cannot rotate %1:").arg(QFile::decodeName(path)));
    }

    const Descriptor file(
        ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
    if (file.get() < 0) {
        const int error = errno;
        warn(error, QStringLiteral("cannot open %1:").arg(QFile::decodeName(path)));
        return false;
    }
    // One write: O_APPEND puts it at the end as a whole. A short write is not completed by a
    // second one, which another writer's line could precede.
    ssize_t written = -1;
    do {
        written = ::write(file.get(), line.constData(), size_t(line.size()));
    } while (written < 0 && errno == EINTR);
    if (written != line.size()) {
        // A short write leaves part of a line, which the reader skips as damaged.
        const int error = written < 0 ? errno : ENOSPC;
        warn(error,
            QStringLiteral("%1 of %2 bytes of a record written:").arg(written).arg(line.size()));
        return false;
    }
    return true;
}

std::vector<QJsonObject> read(const std::function<void(const QString &file, int line)> &damaged)
{
    std::vector<QJsonObject> records;
    readFile(filePath() + QStringLiteral(".1"), records, damaged);
    readFile(filePath(), records, damaged);
    return records;
}

} // namespace updatehistory
