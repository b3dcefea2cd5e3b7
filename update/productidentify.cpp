#include "productidentify.h"

#include "debuglog.h"

#include <QCoreApplication>
#include <QDebug>

#include <cstring>

namespace {

enum class LineRead { Complete, Failed, TooLong };

// The member's bytes up to its first line feed. NUL bytes end a piece's text but not the
// reading; the member is meant to be one short line of text.
LineRead readFirstLine(ZipFile &file, std::string &line)
{
    constexpr int64_t pieceSize = 15;
    std::size_t lineBytes = 0;
    for (;;) {
        char piece[pieceSize + 1] = {};
        const int64_t count = file.read(piece, pieceSize);
        if (count < 0)
            return LineRead::Failed;
        const char *lineFeed
            = static_cast<const char *>(std::memchr(piece, '\n', std::size_t(count)));
        const std::size_t kept = lineFeed ? std::size_t(lineFeed - piece) : std::size_t(count);
        piece[kept] = '\0';
        line.append(piece, std::strlen(piece));
        lineBytes += kept;
        if (lineBytes > productInfoMaxBytes) {
            if (line.size() > productInfoMaxBytes)
                line.resize(productInfoMaxBytes);
            return LineRead::TooLong;
        }
        if (lineFeed || count < pieceSize)
            return LineRead::Complete;
    }
}

QString errorText(const std::string &libzipText)
{
    return QString::fromLocal8Bit(libzipText.c_str());
}

} // namespace

int identifyProduct(ZipArchive &archive, ProductMatch &match, const ErrorReporter &report)
{
    match = ProductMatch();
    bool tooLong = false;
    if (archive.stat(productInfoMember).found()) {
        ZipFile file = archive.openFile(productInfoMember);
        if (!file.isOpen()) {
            const QString reason = errorText(archive.errorString());
            qCDebug(defaultLog).nospace().noquote()
                << "Product info file found but can't be opened: " << reason;
            report(QCoreApplication::translate(
                "Worker", "Product info file found but can't be opened: %1")
                       .arg(reason));
            return -1;
        }
        match.name.clear();
        const LineRead result = readFirstLine(file, match.name);
        if (result == LineRead::Failed) {
            const QString reason = errorText(file.errorString());
            qCDebug(defaultLog).nospace().noquote() << "Can't read Product info file: " << reason;
            report(QCoreApplication::translate("Worker", "Can't read Product info file: %1")
                       .arg(reason));
            return -1;
        }
        tooLong = result == LineRead::TooLong;
    }

    const QString name = QString::fromLatin1(match.name.data(), int(match.name.size()));
    qCDebug(defaultLog).nospace().noquote() << "Deal with product: " << name;

    const auto row = tooLong ? productTable.end() : productTable.find(match.name);
    if (row == productTable.end()) {
        report(QCoreApplication::translate("Worker", "Unsupported product: '%1'").arg(name));
        return -1;
    }
    match.info = &row->second;
    return 0;
}
