#include "inputstatustext.h"

#include <QCoreApplication>

#include <cstring>

namespace {

// The device fills a text field completely when the text is as long as the field, so there
// is no NUL to stop at; the field's end is.
template<size_t N> QString fieldText(const char (&field)[N])
{
    const void *end = std::memchr(field, 0, N);
    const size_t length = end ? size_t(static_cast<const char *>(end) - field) : N;
    if (length == 0)
        return QStringLiteral("unknown");
    return QString::fromLatin1(field, int(length));
}

QString refreshText(uint32_t milliHz)
{
    const double hz = milliHz / 1000.0;
    return QString::number(hz, 'f', milliHz % 1000 == 0 ? 0 : 2);
}

} // namespace

QString inputStatusText(const InputStatusInfo &info)
{
    const uint32_t refresh = info.refreshMilliHz;
    if (info.width == 0 || info.height == 0 || refresh == 0)
        return QCoreApplication::translate("UpdateRepair", "no signal");
    // One substitution pass: a '%' in the device's texts is shown, not expanded.
    return QStringLiteral("%1 %2x%3%4@%5, %6")
        .arg(fieldText(info.label), QString::number(info.width), QString::number(info.height),
            info.interlaced ? QStringLiteral("i") : QStringLiteral("p"), refreshText(refresh),
            fieldText(info.description));
}

QString inputStatusText(const ConfigDeviceDataPtr &ptr, uint16_t size)
{
    if (!ptr || size < sizeof(InputStatusInfo))
        return QCoreApplication::translate("UpdateRepair", "request not supported");
    InputStatusInfo info;
    std::memcpy(&info, ptr.data(), sizeof info);
    return inputStatusText(info);
}
