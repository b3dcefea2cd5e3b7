#include "cliarguments.h"
#include "clirunner.h"
#include "identity.h"
#include "libusbguard.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTextStream>

#include <cstdio>
#include <iostream>
#include <unistd.h>

int main(int argc, char *argv[])
{
    const LibusbGuard libusb;
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QString::fromLatin1(identity::OrganizationName));
    QCoreApplication::setApplicationName(QStringLiteral("lumexor-capture-cli"));
    QCoreApplication::setOrganizationDomain(QString::fromLatin1(identity::OrganizationDomain));
    QCoreApplication::setApplicationVersion(QStringLiteral(LUMEXOR_VERSION));

    QTextStream out(stdout);
    QTextStream err(stderr);
    CliArguments arguments;
    const CliParse parsed = parseCliArguments(QCoreApplication::arguments(), arguments);
    switch (parsed.outcome) {
    case CliParse::Help:
        out << parsed.text << Qt::flush;
        return CliExit::Success;
    case CliParse::Version:
        out << QCoreApplication::applicationName() << ' ' << QCoreApplication::applicationVersion()
            << Qt::endl;
        return CliExit::Success;
    case CliParse::UsageError:
        err << parsed.text << Qt::endl;
        return CliExit::Usage;
    case CliParse::Run:
        break;
    }
    if (!arguments.debug) {
        // The diagnostics the window leaves on standard error would bury the tool's own
        // output there; QT_LOGGING_RULES still overrides the first.
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        std::clog.rdbuf(nullptr);
        std::cerr.rdbuf(nullptr);
    }
    CliRunner runner(out, err, ::isatty(STDOUT_FILENO) == 1);
    return runner.run(arguments);
}
