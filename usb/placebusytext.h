#pragma once

#include "deviceplacelock.h"

#include <QString>

// What the user reads when another holder keeps the device's place: the program, its process
// id and what it is doing, or that some program is, when the holder cannot be read.
QString placeBusyText(const PlaceHolder &holder);
