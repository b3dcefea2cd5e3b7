#pragma once

#include <QIODevice>
#include <QString>

// How lumexor-capture-cli writes text for people and scripts.
namespace clioutput {

// `text` made safe for a terminal: a device's strings and a package's texts come from outside,
// and a control character in them (an escape sequence, a carriage return, a line break) would
// act on the terminal or break a line apart. C0 controls, DEL and the C1 controls become
// \xHH, and a backslash \\ so that every backslash starts an escape. With `field`, whitespace
// is escaped too (\x20; \uHHHH beyond Latin-1), so the text stays one column of a
// whitespace-separated line for `read` and awk.
QString escapedText(const QString &text, bool field = false);

// Standard output or error as a device for QTextStream, written with write(2). What reads it
// may go away while the tool runs (`| head -1`, a dropped SSH session); its writes then fail
// with EPIPE or EIO. The first failure drops the rest quietly, so a reader that leaves can
// neither end an update in progress nor make it wait. SIGPIPE has to be ignored for EPIPE to
// come back here.
class DescriptorOutput : public QIODevice
{
public:
    explicit DescriptorOutput(int descriptor);

    // A write failed, or nobody reads the descriptor any more (a pipe's reader has closed it,
    // a terminal has hung up); nothing is written from then on.
    bool readerGone() const;

    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 size) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    int descriptor_;
    bool failed_ = false;
};

} // namespace clioutput
