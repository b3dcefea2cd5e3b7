#pragma once

#include <QString>

// libusb's error codes as text for messages: the short name ("LIBUSB_ERROR_PIPE") and the
// description ("Pipe error"). Which of the two a message shows is that message's choice.
QString usbErrorName(int code);
QString usbErrorText(int code);
