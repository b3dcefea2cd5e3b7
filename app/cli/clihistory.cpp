#include "clicommands.h"
#include "clicontext.h"
#include "clioutput.h"
#include "updatehistory.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>

int runHistory(CliContext &cli)
{
    // A line that a full disk cut short, or that someone edited, costs that record only.
    const std::vector<QJsonObject> records
        = updatehistory::read([&](const QString &file, int line) {
              cli.printError(QCoreApplication::translate(
                  "CommandLine", "%1, line %2: not a history record, skipped")
                                 .arg(file)
                                 .arg(line));
          });
    if (cli.arguments.json) {
        QJsonArray history;
        for (const QJsonObject &record : records)
            history.append(record);
        cli.printJson({{"schemaVersion", 1}, {"history", history}});
        return CliExit::Success;
    }
    // As `list` lays out its lines: a field in every column ("-" for an empty one, whitespace
    // escaped), the error text, which has spaces, last.
    const auto field = [](const QString &text, int width) {
        return (text.isEmpty() ? QString("-") : clioutput::escapedText(text, true))
            .leftJustified(width);
    };
    for (const QJsonObject &r : records) {
        const QStringList columns {field(r.value("time").toString(), 20),
            field(r.value("product").toString(), 10), field(r.value("port").toString(), 10),
            field(r.value("serial").toString(), 10), field(r.value("result").toString(), 7),
            field(QFileInfo(r.value("package").toString()).fileName(), 0),
            clioutput::escapedText(r.value("error").toString())};
        cli.out << columns.join(' ').trimmed() << Qt::endl;
    }
    return CliExit::Success;
}
