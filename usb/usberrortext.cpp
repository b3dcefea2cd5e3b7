#include "usberrortext.h"

#include <libusb.h>

QString usbErrorName(int code)
{
    return QString::fromUtf8(libusb_error_name(code));
}

QString usbErrorText(int code)
{
    return QString::fromUtf8(libusb_strerror(code));
}
