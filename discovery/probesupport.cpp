#include "probesupport.h"

#include "debuglog.h"
#include "driverinstall.h"

#include <QDebug>

#include <cstring>

namespace probesupport {

const char NoSerial[] = "FFFFFFFF";
const char NoVersion[] = "0.0.0";

std::optional<ProbeResult> openFailureFallback(int code, bool allowUnsupported)
{
    if (code >= 0)
        return std::nullopt;
    if (code == LIBUSB_ERROR_NOT_SUPPORTED && !allowUnsupported)
        return std::nullopt;

    qCDebug(defaultLog) << "Can't open device, try to install WinUSB driver";
    switch (install_winusb_driver()) {
    case 0:
        return ProbeResult::DriverInstalled;
    case -2:
        qCDebug(defaultLog) << "access";
        return ProbeResult::AccessDenied;
    default:
#ifdef __linux__
        // Linux installs nothing, and answers -1 once the rule is there: a node that still
        // refuses this user (an SSH login, a group joined in another session) is a matter of
        // access all the same, which the scan reports with its reason.
        if (code == LIBUSB_ERROR_ACCESS)
            return ProbeResult::AccessDenied;
#endif
        qCDebug(defaultLog) << "Error during driver installation";
        return ProbeResult::Error;
    }
}

QString readString(libusb_device_handle *handle, uint8_t index, const char *fallback)
{
    // The library writes at most length - 1 characters and a terminating zero, and replaces
    // every non-ASCII character with '?'; one byte less than the buffer keeps the last byte
    // zero whatever the device sends. A failed read leaves the buffer untouched.
    unsigned char text[128] = {};
    std::strncpy(reinterpret_cast<char *>(text), fallback, sizeof text - 1);
    if (index != 0)
        libusb_get_string_descriptor_ascii(handle, index, text, static_cast<int>(sizeof text - 1));
    return QString::fromLatin1(reinterpret_cast<const char *>(text));
}

void logStringIds(const libusb_device_descriptor &descriptor)
{
    qCDebug(defaultLog) << "Product string id:" << int(descriptor.iProduct);
    qCDebug(defaultLog) << "Serial number string id:" << int(descriptor.iSerialNumber);
}

} // namespace probesupport
