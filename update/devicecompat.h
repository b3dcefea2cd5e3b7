#pragma once

#include "devicedescription.h"
#include "errorreporter.h"
#include "producttable.h"

// Whether the device `desc` may take a package for `product`. When it may not, the reason
// goes to `report` (if set).
bool isDeviceCompatible(
    const ProductInfo &product, const DeviceDescription &desc, const ErrorReporter &report = {});
