#include "devicefile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <cstring>
#include <map>
#include <stdexcept>

namespace {

using vdev::NorbyState;

// A fault in the file, with what the user has to change.
struct Invalid : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void invalid(const QString &what)
{
    throw Invalid(what.toStdString());
}

const std::map<QString, uint16_t> kinds {
    {"KESTREL3", 0x3600}, {"OSPREYX3", 0x3620}, {"KESTREL3 4K", 0x3640}, {"HARRIER3", 0x3660}};
const std::map<QString, NorbyState> states {{"application", NorbyState::Application},
    {"soft-repair", NorbyState::SoftRepair}, {"sandbox", NorbyState::Sandbox},
    {"boot-loader", NorbyState::BootLoader}};
const std::map<QString, vdev::Arrival> arrivals {{"same-port", vdev::Arrival::SamePort},
    {"other-port", vdev::Arrival::OtherPort}, {"never", vdev::Arrival::Never}};
const std::map<QString, int> errors {{"io", vdev::Io}, {"access", vdev::Access},
    {"no-device", vdev::NoDevice}, {"busy", vdev::Busy}, {"timeout", vdev::Timeout},
    {"pipe", vdev::Pipe}, {"not-supported", vdev::NotSupported}, {"other", vdev::Other}};

template<typename T>
T pick(const std::map<QString, T> &names, const QJsonValue &value, const QString &key)
{
    const auto it = names.find(value.toString());
    if (it != names.end())
        return it->second;
    QStringList known;
    for (const auto &entry : names)
        known << '"' + entry.first + '"';
    invalid(QString("\"%1\" must be one of %2").arg(key, known.join(", ")));
}

// A number, written as a JSON number or as a string ("0x3601" or "13825").
long number(const QJsonValue &value, const QString &key, long min, long max)
{
    // A number outside the range is refused before it is converted: past the range of long the
    // conversion is undefined.
    bool ok
        = value.isDouble() && value.toDouble() >= double(min) && value.toDouble() <= double(max);
    long n = ok ? long(value.toDouble()) : 0;
    if (value.isString())
        n = value.toString().toLong(&ok, 0);
    if (!ok || n < min || n > max || (value.isDouble() && double(n) != value.toDouble()))
        invalid(QString("\"%1\" must be a whole number from %2 to %3").arg(key).arg(min).arg(max));
    return n;
}

std::optional<std::string> text(const QJsonValue &value, const QString &key)
{
    if (value.isNull())
        return std::nullopt; // the device stalls the string read
    if (!value.isString())
        invalid(QString("\"%1\" must be a text or null").arg(key));
    return value.toString().toStdString();
}

void checkKeys(const QJsonObject &object, const QStringList &allowed, const QString &where)
{
    for (const QString &key : object.keys()) {
        if (!allowed.contains(key))
            invalid(QString("unknown field \"%1\"%2").arg(key, where));
    }
}

void put16(uint8_t *at, long value)
{
    at[0] = uint8_t(value);
    at[1] = uint8_t(value >> 8);
}

vdev::NorbySettings::UserModeBlock userMode(const QJsonValue &value)
{
    const QJsonObject mode = value.toObject();
    checkKeys(mode, {"width", "height", "enabled"}, " in a user mode");
    vdev::NorbySettings::UserModeBlock block {};
    put16(&block[0], number(mode.value("width"), "width", 0, 65535));
    put16(&block[2], number(mode.value("height"), "height", 0, 65535));
    block[4] = mode.value("enabled").toBool(true) ? 0 : 1;
    return block;
}

vdev::NorbySettings::InputStatusBlock inputSignal(const QJsonValue &value)
{
    vdev::NorbySettings::InputStatusBlock block {};
    if (value.isNull())
        return block; // no signal
    const QJsonObject signal = value.toObject();
    checkKeys(signal, {"description", "label", "refreshMilliHz", "width", "height", "interlaced"},
        " in \"inputSignal\"");
    const QByteArray description = signal.value("description").toString().toLatin1().left(12);
    const QByteArray label = signal.value("label").toString().toLatin1().left(8);
    std::memcpy(block.data(), description.constData(), size_t(description.size()));
    std::memcpy(block.data() + 12, label.constData(), size_t(label.size()));
    const long milliHz = number(signal.value("refreshMilliHz"), "refreshMilliHz", 0, 0x7FFFFFFF);
    put16(&block[20], milliHz);
    put16(&block[22], milliHz >> 16);
    put16(&block[24], number(signal.value("width"), "width", 0, 65535));
    put16(&block[26], number(signal.value("height"), "height", 0, 65535));
    block[28] = signal.value("interlaced").toBool() ? 1 : 0;
    return block;
}

vusb::RequestFault fault(const QJsonValue &value)
{
    const QJsonObject object = value.toObject();
    checkKeys(object, {"request", "from", "count", "error"}, " in a fault");
    vusb::RequestFault f;
    f.request = uint8_t(number(object.value("request"), "request", 0, 255));
    f.fromOccurrence = int(
        number(object.value("from").isUndefined() ? 1 : object.value("from"), "from", 1, 1 << 30));
    f.count = int(number(
        object.value("count").isUndefined() ? 1 : object.value("count"), "count", -1, 1 << 30));
    f.error = pick(
        errors, object.value("error").isUndefined() ? "pipe" : object.value("error"), "error");
    return f;
}

VirtualDeviceSpec device(const QJsonObject &object)
{
    checkKeys(object,
        {"kind", "productId", "vendorId", "state", "bus", "port", "product", "serial", "version",
            "flags", "userModes", "inputSignal", "busyPolls", "answerDelayMs", "restart",
            "fpgaFormat", "faults", "unplugAfterTransfers", "openError"},
        QString());
    VirtualDeviceSpec spec = defaultDevices().front();
    vdev::NorbyDevice::Config &config = spec.config;
    const QString kind = object.value("kind").toString("KESTREL3");
    config.familyId = pick(kinds, kind, "kind");
    config.product = kind.toStdString();
    if (object.contains("productId"))
        config.familyId
            = uint16_t(number(object.value("productId"), "productId", 0, 0xFFFF)) & 0xFFF0;
    if (object.contains("vendorId"))
        config.vendorId = uint16_t(number(object.value("vendorId"), "vendorId", 0, 0xFFFF));
    if (object.contains("state"))
        config.state = pick(states, object.value("state"), "state");
    for (const char *key : {"product", "serial", "version"}) {
        if (!object.contains(key))
            continue;
        auto &field = std::strcmp(key, "product") == 0 ? config.product
            : std::strcmp(key, "serial") == 0          ? config.serial
                                                       : config.version;
        field = text(object.value(key), key);
    }
    if (object.contains("fpgaFormat"))
        config.fpgaFormat = pick(
            std::map<QString, vdev::NorbyFlash::FpgaFormat> {
                {"framed", vdev::NorbyFlash::FpgaFormat::Framed},
                {"plain", vdev::NorbyFlash::FpgaFormat::Plain}},
            object.value("fpgaFormat"), "fpgaFormat");
    if (object.contains("restart")) {
        const QJsonObject restart = object.value("restart").toObject();
        checkKeys(restart, {"delayMs", "arrival"}, " in \"restart\"");
        config.restart.delay = std::chrono::milliseconds(
            number(restart.value("delayMs").isUndefined() ? 20 : restart.value("delayMs"),
                "delayMs", 0, 600000));
        if (restart.contains("arrival"))
            config.restart.arrival = pick(arrivals, restart.value("arrival"), "arrival");
    }

    if (object.contains("bus"))
        spec.bus = uint8_t(number(object.value("bus"), "bus", 1, 127));
    if (object.contains("port")) {
        spec.portPath.clear();
        const QJsonValue port = object.value("port");
        const QJsonArray ports = port.isArray() ? port.toArray() : QJsonArray {port};
        for (const QJsonValue &p : ports)
            spec.portPath.push_back(uint8_t(number(p, "port", 1, 15)));
        if (spec.portPath.empty() || spec.portPath.size() > 7)
            invalid("\"port\" must list 1 to 7 ports");
    }
    if (object.contains("flags"))
        spec.flags = uint8_t(number(object.value("flags"), "flags", 0, 255));
    if (object.contains("userModes")) {
        const QJsonArray modes = object.value("userModes").toArray();
        if (modes.size() > 3)
            invalid("\"userModes\" holds at most 3 modes");
        for (int i = 0; i < modes.size(); ++i)
            spec.userModes[size_t(i)] = userMode(modes.at(i));
    }
    if (object.contains("inputSignal"))
        spec.inputStatus = inputSignal(object.value("inputSignal"));
    if (object.contains("busyPolls"))
        spec.busyPolls = int(number(object.value("busyPolls"), "busyPolls", -1, 1 << 20));
    if (object.contains("answerDelayMs"))
        spec.answerDelayMs = int(number(object.value("answerDelayMs"), "answerDelayMs", 0, 60000));
    for (const QJsonValue &f : object.value("faults").toArray())
        spec.faults.push_back(fault(f));
    if (object.contains("unplugAfterTransfers"))
        spec.unplugAfterTransfers
            = int(number(object.value("unplugAfterTransfers"), "unplugAfterTransfers", 0, 1 << 30));
    if (object.contains("openError"))
        spec.openError = pick(errors, object.value("openError"), "openError");
    return spec;
}

// Line and column (both from 1) of a byte offset, as an editor shows them.
QString position(const QByteArray &bytes, int offset)
{
    const QByteArray before = bytes.left(offset);
    const int line = before.count('\n') + 1;
    const int column = offset - (before.lastIndexOf('\n') + 1) + 1;
    return QString("line %1, column %2").arg(line).arg(column);
}

} // namespace

QString VirtualDeviceSpec::location() const
{
    QStringList ports;
    for (uint8_t port : portPath)
        ports << QString::number(port);
    return QString::number(bus) + '-' + ports.join('.');
}

std::shared_ptr<vdev::NorbyDevice> makeDevice(const VirtualDeviceSpec &spec, bool flashed)
{
    vdev::NorbyDevice::Config config = spec.config;
    if (flashed
        && (config.state == NorbyState::SoftRepair || config.state == NorbyState::BootLoader))
        config.state = NorbyState::Application;
    auto device = std::make_shared<vdev::NorbyDevice>(config);
    vdev::NorbySettings &settings = device->settings();
    settings.setFlags(spec.flags);
    for (size_t i = 0; i < spec.userModes.size(); ++i)
        settings.setUserMode(i, spec.userModes[i]);
    settings.setInputStatus(spec.inputStatus);
    settings.setAnswerDelay(std::chrono::milliseconds(spec.answerDelayMs));
    device->flash().setBusyPolls(spec.busyPolls);
    return device;
}

vusb::NodeId plugDevice(vusb::Bus &bus, const VirtualDeviceSpec &spec,
    std::shared_ptr<vdev::NorbyDevice> model, HubPlaces &hubs)
{
    QString place = QString::number(spec.bus);
    if (!hubs.count(place))
        hubs[place] = bus.addRootHub(spec.bus);
    vusb::NodeId parent = hubs[place];
    for (size_t i = 0; i + 1 < spec.portPath.size(); ++i) {
        place += (i == 0 ? '-' : '.') + QString::number(spec.portPath[i]);
        if (!hubs.count(place))
            hubs[place] = bus.addHub(parent, spec.portPath[i]);
        parent = hubs[place];
    }
    const vusb::NodeId node = bus.plug(parent, spec.portPath.back(), std::move(model));
    for (const vusb::RequestFault &fault : spec.faults)
        bus.failRequest(node, fault);
    if (spec.unplugAfterTransfers > 0)
        bus.unplugAfterTransfers(node, spec.unplugAfterTransfers);
    if (spec.openError != 0)
        bus.failOpen(node, spec.openError);
    return node;
}

std::vector<VirtualDeviceSpec> defaultDevices()
{
    VirtualDeviceSpec spec;
    spec.config.familyId = 0x3600;
    spec.config.product = "KESTREL3";
    spec.config.serial = "K3A81F02";
    spec.config.version = "3.4.0";
    spec.userModes = {{{0x80, 0x07, 0x38, 0x04, 0}, {0x00, 0x05, 0xD0, 0x02, 0}, {0, 0, 0, 0, 1}}};
    spec.inputStatus = inputSignal(QJsonObject {{"description", "YUY2"}, {"label", "HDMI"},
        {"refreshMilliHz", 60000}, {"width", 1920}, {"height", 1080}});
    return {spec};
}

std::optional<std::vector<VirtualDeviceSpec>> readDeviceFile(const QString &path, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QString("%1: cannot read: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    return parseDeviceFile(file.readAll(), path, error);
}

std::optional<std::vector<VirtualDeviceSpec>> parseDeviceFile(
    const QByteArray &bytes, const QString &path, QString &error)
{
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parse);
    if (document.isNull()) {
        error = QString("%1: %2: %3").arg(path, position(bytes, parse.offset), parse.errorString());
        return std::nullopt;
    }
    if (!document.isArray() && !document.object().value("devices").isArray()) {
        error = QString("%1: expected a list of devices, or an object with a \"devices\" list")
                    .arg(path);
        return std::nullopt;
    }
    const QJsonArray list
        = document.isArray() ? document.array() : document.object().value("devices").toArray();
    std::vector<VirtualDeviceSpec> specs;
    QSet<QString> places;
    for (int i = 0; i < list.size(); ++i) {
        try {
            if (!list.at(i).isObject())
                invalid("must be an object");
            specs.push_back(device(list.at(i).toObject()));
            // A port holds one device; the ports above it in a path are hubs.
            const QString place = specs.back().location();
            for (const QString &other : places) {
                if (other == place || other.startsWith(place + '.')
                    || place.startsWith(other + '.'))
                    invalid("is plugged where device " + other + " or its hub is");
            }
            places.insert(place);
        } catch (const Invalid &e) {
            error = QString("%1: device %2: %3").arg(path).arg(i + 1).arg(e.what());
            return std::nullopt;
        }
    }
    return specs;
}
