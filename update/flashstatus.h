#pragma once

#include "flashcontext.h"

// The device flashes by itself while the host streams an image; after each piece the host
// polls the status of the flash in question until it reads ready (non-zero).
enum class FlashTarget {
    Fx3, // the FX3 microcode flash, status request 0xC8
    Fpga, // the FPGA image flash, status request 0xC4
};

// Polls until the target's flash reports ready. Returns 0, or the negative libusb code of a
// failed status transfer (LIBUSB_ERROR_TIMEOUT also when the flash stays busy longer than
// `context.readyTimeout`) after reporting it through `context.error`.
int waitFlashReady(const FlashContext &context, FlashTarget target);
