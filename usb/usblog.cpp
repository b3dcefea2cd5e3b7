#include "usblog.h"

#include <iostream>

std::ostream &usbProgressLog()
{
    return std::clog;
}

std::ostream &usbErrorLog()
{
    return std::cerr;
}
