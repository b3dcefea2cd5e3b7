#pragma once

#include <libusb.h>

// Claims `interface` like libusb_claim_interface, but waits out a short LIBUSB_ERROR_BUSY:
// another handle may hold the interface for a moment (a configuration request of this program
// is one transfer long; the scanner's probe a ping). A claim still busy after about 200 ms is
// returned as BUSY: the interface is in use, which no driver installation can change.
int claimInterfaceWhenFree(libusb_device_handle *handle, int interface);
