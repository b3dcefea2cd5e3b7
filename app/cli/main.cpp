#include "cliarguments.h"
#include "clioutput.h"
#include "clirunner.h"
#include "identity.h"
#include "libusbguard.h"
#include "packagefile.h"
#include "translations.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTextStream>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

namespace {

// Qt's diagnostics on standard error, one escaped line each: the USB layer and the update
// write device strings and package texts into them.
void writeMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QString text = qFormatLogMessage(type, context, message);
    if (text.isNull())
        return;
    const QByteArray line = (clioutput::escapedText(text) + '\n').toLocal8Bit();
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
}

} // namespace

int main(int argc, char *argv[])
{
    // Whoever reads the output may go away at any time (`| head -1`, a dropped SSH session);
    // that must not end the process in the middle of a flash. The writes fail with EPIPE
    // instead, and DescriptorOutput drops what is left.
    std::signal(SIGPIPE, SIG_IGN);
    // A standard descriptor the caller closed (`>&-`) would be handed to the next file the
    // process opens, a device or a bus socket, and the output would go into that.
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
        if (::fcntl(descriptor, F_GETFD) == -1 && errno == EBADF)
            (void)::open("/dev/null", descriptor == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    }
    qInstallMessageHandler(writeMessage);

    const LibusbGuard libusb;
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QString::fromLatin1(identity::OrganizationName));
    QCoreApplication::setApplicationName(QStringLiteral("lumexor-capture-cli"));
    QCoreApplication::setOrganizationDomain(QString::fromLatin1(identity::OrganizationDomain));
    QCoreApplication::setApplicationVersion(QStringLiteral(LUMEXOR_VERSION));
    installTranslations(app);

    clioutput::DescriptorOutput standardOutput(STDOUT_FILENO);
    clioutput::DescriptorOutput standardError(STDERR_FILENO);
    QTextStream out(&standardOutput);
    QTextStream err(&standardError);
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
    if (arguments.command == CliCommand::Check || arguments.command == CliCommand::Update) {
        arguments.packageFile
            = packagefile::fromArgument(arguments.package, argc, argv, &arguments.packageFileError);
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
