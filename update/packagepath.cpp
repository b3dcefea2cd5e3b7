#include "packagepath.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <dirent.h>
#include <memory>

namespace {

struct DirectoryClose {
    void operator()(DIR *directory) const { closedir(directory); }
};

// U+FFFD encodes, but may stand for bytes that did not decode: such a text is looked up too.
bool encodesExactly(const QString &text)
{
    return !text.contains(QChar::ReplacementCharacter)
        && QFile::decodeName(QFile::encodeName(text)) == text;
}

QString ambiguousText(const QString &name)
{
    return QCoreApplication::translate("Worker",
        "more than one file is shown as \"%1\"; rename the package or name it from a shell")
        .arg(name);
}

QString missingText(const QString &name)
{
    return QCoreApplication::translate("Worker", "no file is shown as \"%1\"").arg(name);
}

} // namespace

QByteArray packagePathBytes(const QString &shown, QString *why)
{
    if (encodesExactly(shown))
        return QFile::encodeName(shown);

    // Part by part: a folder of the path may have an odd name as well.
    const QStringList parts = shown.split(QLatin1Char('/'));
    QByteArray path;
    for (int i = 0; i < parts.size(); ++i) {
        const QString &part = parts.at(i);
        if (i > 0)
            path += '/';
        if (encodesExactly(part)) {
            path += QFile::encodeName(part);
            continue;
        }
        const QByteArray folder = path.isEmpty() ? QByteArray(".") : path;
        std::unique_ptr<DIR, DirectoryClose> directory(opendir(folder.constData()));
        QByteArray found;
        int matches = 0;
        while (directory) {
            const dirent *entry = readdir(directory.get());
            if (!entry)
                break;
            const QByteArray name(entry->d_name);
            if (QFile::decodeName(name) == part) {
                found = name;
                ++matches;
            }
        }
        if (matches != 1) {
            if (why)
                *why = matches == 0 ? missingText(shown) : ambiguousText(part);
            return {};
        }
        path += found;
    }
    return path;
}

QString packagePathText(const QByteArray &path)
{
    return QFile::decodeName(path);
}

QByteArray argumentPathBytes(const QString &shown, int argc, const char *const *argv, QString *why)
{
    QByteArray bytes;
    bool differing = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (QFile::decodeName(argument) != shown)
            continue;
        if (!bytes.isNull() && bytes != argument)
            differing = true;
        bytes = argument;
    }
    if (bytes.isNull() || differing)
        return packagePathBytes(shown, why);
    return bytes;
}
