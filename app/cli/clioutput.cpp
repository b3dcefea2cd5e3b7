#include "clioutput.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace clioutput {

QString escapedText(const QString &text, bool field)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        const ushort code = c.unicode();
        const bool control = code < 0x20 || (code >= 0x7F && code <= 0x9F);
        if (code == '\\')
            escaped += QLatin1String("\\\\");
        else if (control || (field && c.isSpace()))
            escaped += code <= 0xFF ? QString("\\x%1").arg(code, 2, 16, QChar('0'))
                                    : QString("\\u%1").arg(code, 4, 16, QChar('0'));
        else
            escaped += c;
    }
    return escaped;
}

DescriptorOutput::DescriptorOutput(int descriptor)
    : descriptor_(descriptor)
{
    open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

bool DescriptorOutput::readerGone() const
{
    if (failed_)
        return true;
    // Asked without writing: a watcher that prints only changes may not write for hours.
    pollfd state {descriptor_, 0, 0};
    return ::poll(&state, 1, 0) == 1 && (state.revents & (POLLERR | POLLHUP | POLLNVAL));
}

qint64 DescriptorOutput::readData(char *, qint64)
{
    return -1;
}

qint64 DescriptorOutput::writeData(const char *data, qint64 size)
{
    qint64 done = 0;
    while (!failed_ && done < size) {
        const ssize_t written = ::write(descriptor_, data + done, size_t(size - done));
        if (written > 0) {
            done += written;
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A descriptor someone made non-blocking: wait for the reader as a blocking one
            // would; a reader that goes away meanwhile ends the wait with POLLERR.
            pollfd ready {descriptor_, POLLOUT, 0};
            (void)::poll(&ready, 1, -1);
        } else {
            failed_ = true;
        }
    }
    // All of it counts as written: QTextStream would otherwise keep the text, and keep growing
    // it, for a reader that will never come back.
    return size;
}

} // namespace clioutput
