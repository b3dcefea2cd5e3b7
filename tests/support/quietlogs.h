#pragma once

#include <QLoggingCategory>
#include <QString>

#include <iostream>
#include <streambuf>

namespace testsupport {

// For the object's lifetime the USB layer's log of every open, claim and transfer (std::clog,
// std::cerr) goes nowhere, and so does Qt's debug output: over hundreds of runs they come to
// megabytes. Warnings still show.
class QuietLogs : std::streambuf
{
public:
    QuietLogs()
        : clog_(std::clog.rdbuf(this))
        , cerr_(std::cerr.rdbuf(this))
    {
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    }
    QuietLogs(const QuietLogs &) = delete;
    QuietLogs &operator=(const QuietLogs &) = delete;
    ~QuietLogs() override
    {
        QLoggingCategory::setFilterRules(QString());
        std::clog.rdbuf(clog_);
        std::cerr.rdbuf(cerr_);
    }

private:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char *, std::streamsize count) override { return count; }

    std::streambuf *const clog_;
    std::streambuf *const cerr_;
};

} // namespace testsupport
