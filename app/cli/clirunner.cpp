#include "clirunner.h"

#include "clidevices.h"
#include "clioutput.h"
#include "configblocks.h"
#include "configdeviceactions.h"
#include "configdevicetask.h"
#include "devicescanner.h"
#include "inputstatustext.h"
#include "packagecheck.h"
#include "packagepreflight.h"
#include "productidentify.h"
#include "terminationsignals.h"
#include "updatesteps.h"
#include "updatetask.h"
#include "ziparchive.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

#include <array>

using namespace clidevices;
using clioutput::escapedText;

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("CommandLine", text);
}

// The window's texts for a package that cannot be opened and a device that cannot be opened
// belong to the update worker.
QString packageOpenError(const QString &reason)
{
    return QCoreApplication::translate("Worker", "Cannot open firmware package: %1").arg(reason);
}

QString packageOpenError(const ZipArchive &archive)
{
    return packageOpenError(QString::fromLocal8Bit(archive.errorString().c_str()));
}

// What the update is doing at `percent`, as a key for scripts and a text for people. The
// range up to 2 is the package check, a repair's download runs to 15, then the steps share
// the rest as the update task divides it. The last step's range ends at 100, so 100 is not
// "done" by itself: the step's completion request may still fail.
std::pair<QString, QString> stepAt(
    int percent, bool repair, const std::vector<UpdateStepRange> &ranges)
{
    const int stepsStart = repair ? 15 : 2;
    if (percent < 2 || (!repair && percent == 2 && ranges.empty()))
        return {"package", tr("checking the package")};
    if (repair && percent < stepsStart)
        return {"sandbox", tr("loading the sandbox microcode")};
    for (auto range = ranges.rbegin(); range != ranges.rend(); ++range) {
        if (percent < range->from)
            continue;
        switch (range->step) {
        case UpdateStep::Microcode:
            return {"microcode", tr("FX3 microcode")};
        case UpdateStep::FpgaImage:
            return {"fpga", tr("FPGA image")};
        case UpdateStep::Edid:
            return {"edid", tr("EDID")};
        }
    }
    return {"device", tr("opening the device")};
}

struct Switch {
    const char *key;
    const char *label;
    uint32_t capability;
    uint8_t bit;
    std::optional<bool> CliArguments::*wanted;
};

const Switch switches[] = {
    {"aspectRatio", QT_TRANSLATE_NOOP("CommandLine", "keep aspect ratio"), CapAspectRatio,
        DeviceFlags::KeepAspectRatio, &CliArguments::aspectRatio},
    {"performance", QT_TRANSLATE_NOOP("CommandLine", "performance mode"), CapPerformanceMode,
        DeviceFlags::PerformanceMode, &CliArguments::performance},
    {"audioSelector", QT_TRANSLATE_NOOP("CommandLine", "audio selector"), CapAudioSelector,
        DeviceFlags::AudioSelector, &CliArguments::audioSelector},
};

constexpr uint8_t UserModeRequest = 179;
constexpr uint16_t UserModeCount = 3;

} // namespace

CliRunner::CliRunner(QTextStream &out, QTextStream &err, bool terminal, UpdatePacing pacing)
    : out_(out)
    , err_(err)
    , terminal_(terminal)
    , pacing_(pacing)
{
    registerUsbMetaTypes();
}

int CliRunner::run(const CliArguments &arguments)
{
    arguments_ = arguments;
    switch (arguments.command) {
    case CliCommand::List:
        return list();
    case CliCommand::Check:
        return check();
    case CliCommand::Update:
        return update();
    case CliCommand::Settings:
        return settings();
    case CliCommand::UserModes:
        return userModes();
    case CliCommand::Signal:
        return signal();
    }
    return CliExit::Usage;
}

void CliRunner::printLine(const QString &line)
{
    out_ << escapedText(line) << Qt::endl;
}

void CliRunner::printError(const QString &text)
{
    err_ << escapedText(text) << Qt::endl;
}

bool CliRunner::outputGone() const
{
    const auto *device = dynamic_cast<const clioutput::DescriptorOutput *>(out_.device());
    return device && device->readerGone();
}

void CliRunner::printJson(const QJsonObject &object)
{
    out_ << QJsonDocument(object).toJson(QJsonDocument::Compact) << Qt::endl;
}

void CliRunner::fail(const QString &text, const QJsonObject &extra)
{
    printError(text);
    if (arguments_.json) {
        QJsonObject object = extra;
        object.insert("error", text);
        // An update's output is a stream of events; its failures before the start are events
        // too.
        if (arguments_.command == CliCommand::Update) {
            object.insert("event", "error");
            object.insert("message", text);
        }
        printJson(object);
    }
}

std::vector<DeviceDescription> CliRunner::scan(QStringList &errors)
{
    std::vector<DeviceDescription> devices;
    DeviceScanner scanner;
    QEventLoop loop;
    connect(&scanner, &DeviceScanner::newDevice,
        [&](const DeviceDescription &desc) { devices.push_back(desc); });
    connect(&scanner, &DeviceScanner::error, [&](const QString &text) { errors << text; });
    connect(&scanner, &DeviceScanner::complete, &loop, &QEventLoop::quit);
    emit scanner.scan();
    loop.exec();
    return devices;
}

int CliRunner::list()
{
    QStringList errors;
    const std::vector<DeviceDescription> devices
        = selectDevices(scan(errors), arguments_.filter, arguments_.port);
    for (const QString &text : errors)
        printError(text);
    if (arguments_.json) {
        QJsonArray array;
        for (const DeviceDescription &desc : devices)
            array.append(deviceJson(desc));
        out_ << QJsonDocument(array).toJson(QJsonDocument::Compact) << Qt::endl;
    } else {
        for (const DeviceDescription &desc : devices)
            out_ << deviceLine(desc) << Qt::endl;
    }
    return errors.isEmpty() ? CliExit::Success : CliExit::Failed;
}

int CliRunner::selectOne(DeviceDescription &chosen)
{
    QStringList errors;
    const std::vector<DeviceDescription> all = scan(errors);
    const std::vector<DeviceDescription> matches
        = selectDevices(all, arguments_.filter, arguments_.port);
    for (const QString &text : errors)
        printError(text);
    if (matches.size() == 1) {
        chosen = matches.front();
        return CliExit::Success;
    }
    // The candidates are named so the next try can pick one by serial or port.
    const std::vector<DeviceDescription> &candidates = matches.empty() ? all : matches;
    QJsonArray array;
    for (const DeviceDescription &desc : candidates)
        array.append(deviceJson(desc));
    const QString text = matches.empty()
        ? (all.empty() ? tr("No device found.") : tr("No device matches; the devices found are:"))
        : QCoreApplication::translate("CommandLine",
            "%n devices match; choose one with --serial or --port:", nullptr, int(matches.size()));
    fail(text, {{"candidates", array}});
    for (const DeviceDescription &desc : candidates)
        err_ << "  " << deviceLine(desc) << Qt::endl;
    return CliExit::NoDevice;
}

CliRunner::Reply CliRunner::request(ConfigDeviceAction &action, const std::function<void()> &send)
{
    Reply reply;
    QEventLoop loop;
    QObject context;
    connect(&action, &ConfigDeviceBase::error, &context, [&](uint8_t, const QString &text) {
        if (reply.error.isEmpty())
            reply.error = text;
    });
    // A write that cannot open the device completes as a read without data.
    connect(&action, &ConfigDeviceBase::getRequestComplete, &context,
        [&](uint8_t, const ConfigDeviceDataPtr &data, uint16_t size) {
            reply.data = data;
            reply.size = size;
            loop.quit();
        });
    connect(&action, &ConfigDeviceBase::setRequestComplete, &loop, &QEventLoop::quit);
    send();
    loop.exec();
    return reply;
}

int CliRunner::check()
{
    QJsonObject report {{"package", arguments_.package}};
    if (arguments_.packageFile.isNull()) {
        report.insert("refused", true);
        fail(packageOpenError(arguments_.packageFileError), report);
        return CliExit::Failed;
    }
    ZipArchive archive(arguments_.packageFile.toStdString());
    if (!archive.isOpen()) {
        report.insert("refused", true);
        fail(packageOpenError(archive), report);
        return CliExit::Failed;
    }
    QString refusal;
    const ErrorReporter note = [&](const QString &text) {
        if (refusal.isEmpty())
            refusal = text;
    };
    ProductMatch match;
    PackageMembers members;
    PreparedPackage prepared;
    // As the update checks a package, with the sandbox read and verified as for a repair:
    // a package that is fine for a working device but cannot bring back a bricked one is
    // worth knowing about before it is needed.
    const bool good = identifyProduct(archive, match, note) >= 0
        && checkPackageMembers(archive, *match.info, members, note) >= 0
        && preflightPackage(archive, *match.info, members, !members.skipFirmware, prepared, note)
            >= 0;

    report.insert("product", QString::fromStdString(match.name));
    QStringList lines {tr("package: %1").arg(arguments_.package),
        tr("product: %1").arg(QString::fromStdString(match.name))};
    if (match.info) {
        const ProductInfo &info = *match.info;
        const QString format = info.fpgaFormat == FpgaPlain ? "plain" : "framed";
        report.insert("fpgaFormat", format);
        QJsonArray array;
        const std::array<std::pair<const char *, const std::string *>, 4> parts {
            {{"microcode", &info.microcodeImage}, {"fpga", &info.fpgaImage},
                {"sandbox", &info.sandboxImage}, {"edid", &info.edidFile}}};
        for (const auto &[role, name] : parts) {
            if (name->empty())
                continue;
            const ZipStat stat = archive.stat(*name);
            QJsonObject member {
                {"role", role}, {"name", QString::fromStdString(*name)}, {"present", stat.found()}};
            QString line
                = QString("%1 %2").arg(QString(role), -9).arg(QString::fromStdString(*name));
            if (stat.found()) {
                member.insert("size", double(stat.size));
                line += ' ' + tr("%1 bytes").arg(stat.size);
            } else {
                line += ' ' + tr("missing");
            }
            if (std::string(role) == "microcode" && stat.found()) {
                member.insert("aligned", stat.size % 4 == 0);
                line += stat.size % 4 == 0 ? tr(", whole 32-bit words") : tr(", not whole words");
            }
            if (std::string(role) == "fpga" && stat.found())
                line += ", " + format;
            if (std::string(role) == "sandbox" && good && !prepared.sandbox.sections.empty()) {
                member.insert("sections", int(prepared.sandbox.sections.size()));
                member.insert("entryPoint",
                    "0x" + QString::number(prepared.sandbox.entryPoint, 16).rightJustified(8, '0'));
                line += QCoreApplication::translate("CommandLine",
                    ", %n section(s), entry point 0x%1, checksum good", nullptr,
                    int(prepared.sandbox.sections.size()))
                            .arg(prepared.sandbox.entryPoint, 8, 16, QChar('0'));
            }
            if (std::string(role) == "edid" && good && members.updateEdid) {
                member.insert("edidBytes", int(prepared.edid.size()));
                line += tr(", %1 bytes of EDID, checksums good").arg(prepared.edid.size());
            }
            array.append(member);
            lines << line;
        }
        report.insert("members", array);
        report.insert("edidOnly", members.skipFirmware);
    }
    report.insert("refused", !good);
    if (!good) {
        report.insert("error", refusal);
        printError(refusal);
    }
    if (arguments_.json) {
        printJson(report);
    } else {
        for (const QString &line : lines)
            printLine(line);
        printLine(good ? tr("an update with this package would go ahead")
                       : tr("an update with this package would be refused: %1").arg(refusal));
    }
    return good ? CliExit::Success : CliExit::Failed;
}

int CliRunner::update()
{
    TerminationSignals termination;
    bool updating = false;
    bool stopRequested = false;
    connect(&termination, &TerminationSignals::received, this, [&](int) {
        if (stopRequested)
            return;
        stopRequested = true;
        if (!updating)
            return;
        const QString text = tr("Signal received: the update goes on, and the tool stops when "
                                "it ends. Do not unplug the device.");
        printError(text);
        if (arguments_.json)
            printJson({{"event", "notice"}, {"message", text}});
    });

    if (arguments_.packageFile.isNull()) {
        fail(packageOpenError(arguments_.packageFileError));
        return CliExit::Failed;
    }
    DeviceDescription desc;
    const int selected = selectOne(desc);
    if (selected != CliExit::Success)
        return selected;

    // The step names follow the package; a package the update refuses names none.
    const bool repair = desc.mode == SoftRepair || desc.mode == HardRepair;
    std::vector<UpdateStepRange> ranges;
    {
        ZipArchive archive(arguments_.packageFile.toStdString());
        ProductMatch match;
        PackageMembers members;
        const ErrorReporter quiet = [](const QString &) {};
        if (archive.isOpen() && identifyProduct(archive, match, quiet) >= 0
            && checkPackageMembers(archive, *match.info, members, quiet) >= 0)
            ranges = updateStepRanges(members, repair ? 15 : 2);
    }
    // A signal during the scan or the package read stops here, before any write.
    QCoreApplication::processEvents();
    if (stopRequested) {
        fail(tr("Interrupted before the update started; nothing was written."));
        return CliExit::Failed;
    }

    UpdateTask task(nullptr, pacing_);
    QEventLoop loop;
    QStringList errors;
    int shown = -1;
    const bool bar = terminal_ && !arguments_.json;
    const auto showProgress = [&](int percent, const QString &key, const QString &label) {
        if (arguments_.json) {
            printJson({{"event", "progress"}, {"percent", percent}, {"step", key}});
        } else if (bar) {
            constexpr int width = 30;
            const int filled = percent * width / 100;
            out_ << '\r' << '[' << QString(filled, '#') << QString(width - filled, '-') << "] "
                 << QString::number(percent).rightJustified(3) << "%  " << label.leftJustified(30)
                 << Qt::flush;
        } else if (percent != shown) {
            printLine(QString("%1% %2").arg(percent).arg(label));
        }
        shown = percent;
    };
    connect(&task, &UpdateTask::progress, [&](int percent) {
        // Only the run's end tells whether 100 is "done"; see stepAt.
        if (percent >= 100)
            return;
        const auto [key, label] = stepAt(percent, repair, ranges);
        showProgress(percent, key, label);
    });
    connect(&task, &UpdateTask::error, [&](const QString &text) {
        errors << text;
        if (bar)
            out_ << Qt::endl;
        printError(text);
        if (arguments_.json)
            printJson({{"event", "error"}, {"message", text}});
    });
    connect(&task, &UpdateTask::complete, &loop, &QEventLoop::quit);

    if (!arguments_.json)
        out_ << tr("Updating %1").arg(deviceLine(desc)) << Qt::endl;
    updating = true;
    emit task.startFile(desc, arguments_.packageFile);
    loop.exec();
    updating = false;

    const bool ok = errors.isEmpty();
    if (ok)
        showProgress(100, "done", tr("done"));
    if (bar && ok)
        out_ << Qt::endl;
    if (arguments_.json) {
        printJson({{"event", "end"}, {"result", ok ? "success" : "failure"},
            {"exitStatus", ok ? CliExit::Success : CliExit::Failed}, {"device", deviceJson(desc)}});
    } else {
        printLine(ok ? tr("Update completed") : tr("Update failed"));
    }
    return ok ? CliExit::Success : CliExit::Failed;
}

int CliRunner::settings()
{
    DeviceDescription desc;
    const int selected = selectOne(desc);
    if (selected != CliExit::Success)
        return selected;
    if (!(desc.capabilities & CapDeviceSettings)) {
        fail(tr("The device offers no settings."));
        return CliExit::Failed;
    }
    for (const Switch &one : switches) {
        if ((arguments_.*one.wanted) && !(desc.capabilities & one.capability)) {
            fail(tr("The device has no %1 setting.").arg(tr(one.label)));
            return CliExit::Failed;
        }
    }

    ConfigDeviceTask task;
    DeviceFlagsAction action(&task);
    const auto read = [&](std::optional<unsigned char> &flags) {
        const Reply reply = request(action, [&] { action.get(desc); });
        flags = DeviceFlagsAction::fromData(reply.data, reply.size);
        if (!reply.error.isEmpty() || !flags) {
            fail(reply.error.isEmpty() ? tr("request not supported") : reply.error);
            return false;
        }
        return true;
    };

    std::optional<unsigned char> flags;
    if (!read(flags))
        return CliExit::Failed;
    const bool change = std::any_of(std::begin(switches), std::end(switches),
        [&](const Switch &one) { return bool(arguments_.*one.wanted); });
    if (change) {
        bool value[3];
        for (int i = 0; i < 3; ++i)
            value[i] = (arguments_.*switches[i].wanted).value_or((*flags & switches[i].bit) != 0);
        // The firmware's other bits are its own; the host writes them as 0.
        const Reply reply = request(action,
            [&] { action.set(desc, DeviceFlags::fromSwitches(value[0], value[1], value[2])); });
        if (!reply.error.isEmpty()) {
            fail(reply.error);
            return CliExit::Failed;
        }
        if (!read(flags))
            return CliExit::Failed;
    }

    QJsonObject object;
    for (const Switch &one : switches) {
        if (!(desc.capabilities & one.capability))
            continue;
        const bool on = (*flags & one.bit) != 0;
        object.insert(one.key, on);
        if (!arguments_.json)
            printLine(QString("%1: %2").arg(tr(one.label), on ? tr("on") : tr("off")));
    }
    if (arguments_.json)
        printJson(object);
    return CliExit::Success;
}

int CliRunner::userModes()
{
    DeviceDescription desc;
    const int selected = selectOne(desc);
    if (selected != CliExit::Success)
        return selected;
    if (!(desc.capabilities & CapUserModes)) {
        fail(tr("The device's firmware has no user modes."));
        return CliExit::Failed;
    }

    ConfigDeviceTask task;
    UserModeAction action(&task);
    std::array<UserMode, UserModeCount> modes {};
    // One request after another, as the window does, so a failure stops where it happened.
    const auto readAll = [&] {
        for (uint16_t index = 0; index < UserModeCount; ++index) {
            const Reply reply = request(action, [&] { action.get(desc, UserModeRequest, index); });
            const std::optional<UserMode> mode = UserModeAction::fromData(reply.data, reply.size);
            if (!reply.error.isEmpty() || !mode) {
                fail(reply.error.isEmpty() ? tr("request not supported") : reply.error);
                return false;
            }
            modes[index] = *mode;
        }
        return true;
    };

    if (!readAll())
        return CliExit::Failed;
    if (!arguments_.modes.empty()) {
        for (const UserModeChange &change : arguments_.modes) {
            UserMode &mode = modes[change.index];
            mode.disabled = change.offered ? 0 : 1;
            if (change.offered) {
                mode.width = change.width;
                mode.height = change.height;
            }
        }
        for (uint16_t index = 0; index < UserModeCount; ++index) {
            const Reply reply
                = request(action, [&] { action.set(desc, modes[index], UserModeRequest, index); });
            if (!reply.error.isEmpty()) {
                fail(reply.error);
                return CliExit::Failed;
            }
        }
        if (!readAll())
            return CliExit::Failed;
    }

    QJsonArray array;
    for (uint16_t index = 0; index < UserModeCount; ++index) {
        const UserMode &mode = modes[index];
        array.append(QJsonObject {{"mode", index + 1}, {"offered", mode.disabled == 0},
            {"width", mode.width}, {"height", mode.height}});
        const QString size = QString("%1x%2").arg(mode.width).arg(mode.height);
        if (!arguments_.json)
            printLine(QString("%1: %2").arg(index + 1).arg(
                mode.disabled == 0 ? size : tr("off (%1)").arg(size)));
    }
    if (arguments_.json)
        printJson({{"userModes", array}});
    return CliExit::Success;
}

int CliRunner::signal()
{
    TerminationSignals termination;
    DeviceDescription desc;
    const int selected = selectOne(desc);
    if (selected != CliExit::Success)
        return selected;

    ConfigDeviceTask task;
    InputStatusAction action(&task);
    QString last;
    // One reading; false when the device did not give one.
    const auto readOnce = [&] {
        const Reply reply = request(action, [&] { action.get(desc); });
        const QString text = inputStatusText(reply.data, reply.size);
        const std::optional<InputStatusInfo> info
            = InputStatusAction::fromData(reply.data, reply.size);
        if (arguments_.json) {
            QJsonObject object {{"signal", text}};
            if (info) {
                object.insert("width", info->width);
                object.insert("height", info->height);
                object.insert("refreshMilliHz", double(info->refreshMilliHz));
                object.insert("interlaced", info->interlaced != 0);
            }
            if (!reply.error.isEmpty())
                object.insert("error", reply.error);
            printJson(object);
        } else if (text != last) {
            printLine(text);
        }
        last = text;
        if (!reply.error.isEmpty())
            printError(reply.error);
        return bool(info);
    };

    const bool first = readOnce();
    if (!arguments_.watch)
        return first ? CliExit::Success : CliExit::Failed;

    // Every two seconds, as the window polls, until SIGINT, SIGTERM or SIGHUP, or until nobody
    // reads the output any more (`| head -1`): a watcher without a reader would poll the
    // device for ever.
    QEventLoop loop;
    QTimer timer;
    timer.setInterval(2000);
    connect(&timer, &QTimer::timeout, [&] {
        if (!outputGone())
            readOnce();
        if (outputGone())
            loop.quit();
    });
    connect(&termination, &TerminationSignals::received, &loop, &QEventLoop::quit);
    timer.start();
    loop.exec();
    return CliExit::Success;
}
