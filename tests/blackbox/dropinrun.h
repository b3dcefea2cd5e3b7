#pragma once

// The shipped programs, unchanged, on the drop-in virtual bus: how the tests start them and
// read what the devices keep.

#include "producttable.h"
#include "textimage.h"
#include "ziparchive.h"

#include <QtTest>

#include <sstream>

// The sample package the build wrote for `product`.
inline QString sample(const char *product)
{
    return QString(LUMEXOR_SAMPLES_DIR) + '/' + product + ".fw";
}

// What a device keeps after an update with a package: the microcode, the FPGA image and the
// EDID bytes its text form stands for, in that order, as the virtual devices save them
// (fx3-microcode.bin, fpga-image.bin, edid.bin).
inline QList<QByteArray> packageImages(const QString &package, const std::string &product)
{
    const auto member = [&](const std::string &name) {
        ZipArchive archive(package.toStdString());
        ZipFile file = archive.openFile(name);
        QByteArray bytes;
        uint8_t buffer[4096];
        for (int64_t n; file.isOpen() && (n = file.read(buffer, sizeof buffer)) > 0;)
            bytes.append(reinterpret_cast<const char *>(buffer), int(n));
        return bytes;
    };
    const ProductInfo &row = productTable.at(product);
    std::istringstream text(member(row.edidFile).toStdString());
    const TextImage edid = parseTextImage(text);
    return {member(row.microcodeImage), member(row.fpgaImage),
        QByteArray(reinterpret_cast<const char *>(edid.data.data()), int(edid.data.size()))};
}

// Runs of the shipped programs, one after another, on one set of virtual devices (the drop-in
// bus's default KESTREL3 when `devices` is null) that keep their state between runs, each
// transfer written to the log. Nothing of Qt Test runs inside the programs.
class DropInRun
{
public:
    explicit DropInRun(const QByteArray &devices = QByteArray())
    {
        env = QProcessEnvironment::systemEnvironment();
        env.insert("LD_LIBRARY_PATH", LUMEXOR_DROPIN_DIR);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_CONFIG_HOME", dir.filePath("config")); // never the user's settings
        env.insert("XDG_STATE_HOME", dir.filePath("history")); // nor the user's update history
        env.insert("LUMEXOR_VIRTUAL_STATE", dir.filePath("state"));
        env.insert("LUMEXOR_VIRTUAL_LOG", dir.filePath("transfers.log"));
        if (!devices.isNull()) {
            QFile file(dir.filePath("devices.json"));
            if (file.open(QIODevice::WriteOnly))
                file.write(devices);
            env.insert("LUMEXOR_VIRTUAL_DEVICES", file.fileName());
        }
        QObject::connect(&process, &QProcess::readyReadStandardOutput,
            [this] { out += process.readAllStandardOutput(); });
        QObject::connect(&process, &QProcess::readyReadStandardError,
            [this] { err += process.readAllStandardError(); });
    }
    DropInRun(const DropInRun &) = delete;
    DropInRun &operator=(const DropInRun &) = delete;
    ~DropInRun()
    {
        process.kill();
        process.waitForFinished(5000);
    }

    bool start(const QStringList &arguments, const QString &program = LUMEXOR_CLI)
    {
        out.clear();
        err.clear();
        process.setProcessEnvironment(env);
        process.start(program, arguments);
        return process.waitForStarted(5000);
    }

    // One whole run; its exit status, -1 when it did not end in time.
    int run(const QStringList &arguments) { return start(arguments) ? finish() : -1; }

    // `script` run by /bin/sh with the tool as $0 and `arguments` as $1...; the exit status of
    // the shell.
    int shell(const QString &script, const QStringList &arguments)
    {
        return start(QStringList {"-c", script, LUMEXOR_CLI} + arguments, "/bin/sh") ? finish()
                                                                                     : -1;
    }

    int finish()
    {
        if (!process.waitForFinished(60000))
            return -1;
        out += process.readAllStandardOutput();
        err += process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    // The JSON values of the output, one a line; null for a line that is not JSON.
    QList<QJsonValue> jsonLines() const
    {
        QList<QJsonValue> values;
        for (const QByteArray &line : out.split('\n')) {
            if (!line.isEmpty())
                values << QJsonValue::fromVariant(QJsonDocument::fromJson(line).toVariant());
        }
        return values;
    }

    // Why the output's JSON lines do not hold to the schemas of `command` (docs/schema, checked
    // by validate-json with python3-jsonschema); empty when they do, or when that validator is
    // not installed (CI has it).
    QString schemaErrors(const QString &command) const
    {
        QProcess validator;
        validator.start(LUMEXOR_VALIDATE_JSON, {LUMEXOR_SCHEMA_DIR, command});
        validator.write(out);
        validator.closeWriteChannel();
        if (!validator.waitForFinished(30000))
            return "validate-json did not end";
        if (validator.exitCode() == 77)
            qInfo("python3-jsonschema is not installed: the JSON is not checked");
        return validator.exitCode() == 0 || validator.exitCode() == 77
            ? QString()
            : QString::fromUtf8(validator.readAllStandardError());
    }

    // What the device at `port` ("1-1", "2-3.2") keeps of `file`, or all three images.
    QByteArray saved(const QString &port, const char *file) const
    {
        QFile f(dir.filePath("state/" + port + '/' + file));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // The microcode, FPGA image and EDID saved by the device at `port`, as packageImages.
    QList<QByteArray> images(const QString &port) const
    {
        return {saved(port, "fx3-microcode.bin"), saved(port, "fpga-image.bin"),
            saved(port, "edid.bin")};
    }

    QTemporaryDir dir;
    QProcessEnvironment env;
    QProcess process;
    QByteArray out;
    QByteArray err;
};
