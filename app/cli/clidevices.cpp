#include "clidevices.h"

#include "clioutput.h"

#include <QJsonArray>
#include <QStringList>

namespace clidevices {

QString portText(const DeviceDescription &desc)
{
    QStringList path;
    for (uint8_t port : desc.portPath)
        path << QString::number(port);
    return QString::number(desc.busNumber) + '-' + path.join('.');
}

QString stateName(const DeviceDescription &desc)
{
    switch (desc.mode) {
    case SoftRepair:
        return "soft-repair";
    case HardRepair:
        return "boot-loader";
    case DirectUpdate:
        return "sandbox";
    default:
        return "normal";
    }
}

QString deviceLine(const DeviceDescription &desc)
{
    // Fixed columns for the eye, and for `read` and awk a field in every column ("-" for an
    // empty one, whitespace escaped) with the product name, which may hold spaces, last.
    // Joined, not substituted: a device's strings may hold "%1".
    const auto field = [](const QString &text, int width, bool last = false) {
        return (text.isEmpty() ? QString("-") : clioutput::escapedText(text, !last))
            .leftJustified(width);
    };
    const QStringList columns {field(stateName(desc), 11),
        hexId(desc.vendorId) + ':' + hexId(desc.productId), field(desc.serial, 10),
        field(desc.version, 8), field(portText(desc), 10), field(desc.product, 0, true)};
    return columns.join(' ').trimmed();
}

QString deviceTag(const DeviceDescription &desc)
{
    return '[' + portText(desc) + ' '
        + (desc.serial.isEmpty() ? QString("-") : clioutput::escapedText(desc.serial, true)) + ']';
}

QJsonObject deviceJson(const DeviceDescription &desc)
{
    QJsonArray path;
    for (uint8_t port : desc.portPath)
        path.append(int(port));
    QJsonArray settings;
    const std::pair<uint32_t, const char *> offered[]
        = {{CapAspectRatio, "aspect-ratio"}, {CapPerformanceMode, "performance"},
            {CapAudioSelector, "audio-selector"}, {CapUserModes, "user-modes"}};
    for (const auto &[bit, name] : offered) {
        if (desc.capabilities & bit)
            settings.append(name);
    }
    return QJsonObject {{"state", stateName(desc)}, {"modeText", desc.modeText},
        {"vendorId", hexId(desc.vendorId)}, {"productId", hexId(desc.productId)},
        {"product", desc.product}, {"serial", desc.serial}, {"version", desc.version},
        {"bus", int(desc.busNumber)}, {"portPath", path}, {"port", portText(desc)},
        {"settings", settings}};
}

std::vector<DeviceDescription> selectDevices(
    const std::vector<DeviceDescription> &devices, const DeviceFilter &filter, const QString &port)
{
    std::vector<DeviceDescription> chosen;
    for (const DeviceDescription &desc : devices) {
        if (deviceFilterAdmits(filter, desc) && (port.isEmpty() || portText(desc) == port))
            chosen.push_back(desc);
    }
    return chosen;
}

} // namespace clidevices
