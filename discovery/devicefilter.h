#pragma once

#include "devicedescription.h"

#include <QString>

#include <cstdint>

// Which scanned devices a front end lists, as given on its command line. 0 or empty: no
// constraint.
struct DeviceFilter {
    int32_t vid = 0;
    int32_t pid = 0;
    QString serial;
};

// Whether `filter` admits the device `desc`. A device that has lost its application firmware
// re-enumerates under its family's repair id (last hex digit 0, or F while the sandbox
// microcode runs) and reports no serial of its own, so a filter for the working product also
// admits the same family in those states, whatever serial they report. The FX3 boot loader
// (0x04B4:0x00F3) is not of the family and is compared like any other device.
bool deviceFilterAdmits(const DeviceFilter &filter, const DeviceDescription &desc);
