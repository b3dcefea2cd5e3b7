#include "probetable.h"

#include <cstdio>

// lumexor-usb-ids: every USB id of the probe table as the modalias glob the kernel gives such a
// device (usb:vVVVVpPPPPd*), one a line; the build makes the metainfo's <provides> from it, so
// software centres offer the program for exactly the devices it handles.
int main()
{
    for (const ProbeEntry &entry : probeTable)
        std::printf("usb:v%04Xp%04Xd*\n", unsigned(entry.vendorId), unsigned(entry.productId));
    return 0;
}
