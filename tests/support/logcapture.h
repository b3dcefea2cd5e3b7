#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <sstream>
#include <string>

namespace testsupport {

// Captures what the code under test writes to std::clog and std::cerr (the USB logs, the
// EDID parser's diagnostics) and to Qt's debug output, for the lifetime of the object. Only
// for code that runs on the test's own thread.
class LogCapture
{
public:
    LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;
    ~LogCapture();

    std::string progress() const { return progress_.str(); } // std::clog
    std::string errors() const { return errors_.str(); } // std::cerr
    // Qt debug/warning lines, one per message, as Qt's default handler would print them.
    QStringList debug() const;

private:
    std::ostringstream progress_;
    std::ostringstream errors_;
    std::streambuf *oldClog_;
    std::streambuf *oldCerr_;
    QtMessageHandler oldHandler_;
};

} // namespace testsupport
