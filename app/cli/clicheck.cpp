#include "clicommands.h"
#include "clicontext.h"
#include "packagefile.h"

#include <QCoreApplication>
#include <QJsonArray>

int runCheck(CliContext &cli)
{
    const CliArguments &arguments = cli.arguments;
    QJsonObject json {{"package", arguments.package}};
    if (arguments.packageFile.isNull()) {
        json.insert("refused", true);
        cli.fail("package-unreadable", packagefile::openError(arguments.packageFileError), json);
        return CliExit::Failed;
    }
    // Read as the update reads it before it starts, by the update's own worker.
    PackageReport report;
    UpdateJob job(nullptr, cli.pacing);
    QObject::connect(
        &job, &UpdateJob::packageReport, [&](const PackageReport &made) { report = made; });
    CliContext::waitFor(&job, &UpdateJob::complete, [&] { job.check(arguments.packageFile); });
    if (!report.opened) {
        json.insert("refused", true);
        cli.fail("package-unreadable", report.refusal, json);
        return CliExit::Failed;
    }

    const bool good = !report.refused;
    json.insert("product", report.product);
    QStringList lines {
        QCoreApplication::translate("CommandLine", "package: %1").arg(arguments.package),
        QCoreApplication::translate("CommandLine", "product: %1").arg(report.product)};
    if (report.productKnown) {
        const QString format = report.fpgaFramed ? "framed" : "plain";
        json.insert("fpgaFormat", format);
        QJsonArray array;
        for (const PackageReport::Member &part : report.members) {
            QJsonObject member {
                {"role", part.role}, {"name", part.name}, {"present", part.present}};
            QString line = QString("%1 %2").arg(part.role, -9).arg(part.name);
            if (part.present) {
                member.insert("size", double(part.size));
                line += ' ' + QCoreApplication::translate("CommandLine", "%1 bytes").arg(part.size);
            } else {
                line += ' ' + QCoreApplication::translate("CommandLine", "missing");
            }
            if (part.role == "microcode" && part.present) {
                member.insert("aligned", part.size % 4 == 0);
                line += part.size % 4 == 0
                    ? QCoreApplication::translate("CommandLine", ", whole 32-bit words")
                    : QCoreApplication::translate("CommandLine", ", not whole words");
            }
            if (part.role == "fpga" && part.present)
                line += ", " + format;
            if (part.role == "sandbox" && report.sandboxSections > 0) {
                member.insert("sections", report.sandboxSections);
                member.insert("entryPoint",
                    "0x" + QString::number(report.sandboxEntryPoint, 16).rightJustified(8, '0'));
                line += QCoreApplication::translate("CommandLine",
                    ", %n section(s), entry point 0x%1, checksum good", nullptr,
                    report.sandboxSections)
                            .arg(report.sandboxEntryPoint, 8, 16, QChar('0'));
            }
            if (part.role == "edid" && report.edidBytes >= 0) {
                member.insert("edidBytes", report.edidBytes);
                line += QCoreApplication::translate(
                    "CommandLine", ", %1 bytes of EDID, checksums good")
                            .arg(report.edidBytes);
            }
            array.append(member);
            lines << line;
        }
        json.insert("members", array);
        json.insert("edidOnly", report.edidOnly);
    }
    json.insert("refused", !good);
    if (!good) {
        json.insert("error", report.refusal);
        json.insert("code", "package-damaged");
        cli.printError(report.refusal);
    }
    if (arguments.json) {
        cli.printJson(json);
    } else {
        for (const QString &line : lines)
            cli.printLine(line);
        cli.printLine(good ? QCoreApplication::translate(
                          "CommandLine", "an update with this package would go ahead")
                           : QCoreApplication::translate(
                               "CommandLine", "an update with this package would be refused: %1")
                                 .arg(report.refusal));
    }
    return good ? CliExit::Success : CliExit::Failed;
}
