#include "probetable.h"

namespace {
constexpr uint16_t Lumexor = 0x2B77;
// KESTREL3 also appears under this vendor id and is probed exactly like its 0x2B77 twin.
constexpr uint16_t LumexorEarly = 0x5555;
constexpr uint16_t CypressFx3 = 0x04B4;
} // namespace

// Per product family the last hex digit of the product id tells the program running on the
// device: 1 the application firmware, 0 the soft-repair state, F the sandbox microcode.
const std::array<ProbeEntry, 17> probeTable = {{
    {Lumexor, 0x3601, probeCaptureDevice},
    {Lumexor, 0x3600, probeSoftRepair},
    {Lumexor, 0x360F, probeDirectUpdate},
    {Lumexor, 0x3621, probeCaptureDeviceWithAudio},
    {Lumexor, 0x3620, probeSoftRepair},
    {Lumexor, 0x362F, probeDirectUpdate},
    {Lumexor, 0x3631, probeCaptureDevice},
    {Lumexor, 0x3630, probeSoftRepair},
    {Lumexor, 0x363F, probeDirectUpdate},
    {Lumexor, 0x3641, probeCaptureDevice},
    {Lumexor, 0x3640, probeSoftRepair},
    {Lumexor, 0x364F, probeDirectUpdate},
    {Lumexor, 0x3661, probeCaptureDeviceNoAspect},
    {Lumexor, 0x3660, probeSoftRepair},
    {Lumexor, 0x366F, probeDirectUpdate},
    {LumexorEarly, 0x3601, probeCaptureDevice},
    {CypressFx3, 0x00F3, probeHardRepair},
}};

const ProbeEntry *findProbe(uint16_t vendorId, uint16_t productId)
{
    for (const ProbeEntry &entry : probeTable) {
        if (entry.vendorId == vendorId && entry.productId == productId)
            return &entry;
    }
    return nullptr;
}
