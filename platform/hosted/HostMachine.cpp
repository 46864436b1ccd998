// The machine on Linux: the host's clock, and no firmware identity (zar-sim
// simulates one with --machine).
#include <time.h>

#include "platform/Machine.h"
#include "platform/hosted/HostFirmware.h"

namespace zar {

bool ReadWallClock(WallClock* clock)
{
    hosted::NoteServiceCall();
    time_t now = time(nullptr);
    struct tm local;
    if (now == static_cast<time_t>(-1) || localtime_r(&now, &local) == nullptr)
        return false;
    *clock = {static_cast<uint16_t>(local.tm_year + 1900), static_cast<uint8_t>(local.tm_mon + 1),
              static_cast<uint8_t>(local.tm_mday), static_cast<uint8_t>(local.tm_hour),
              static_cast<uint8_t>(local.tm_min),
              // A leap second reads as :59.
              static_cast<uint8_t>(local.tm_sec > 59 ? 59 : local.tm_sec)};
    return WallClockValid(*clock);
}

void ReadFirmwareMachineIdentity(MachineIdentity* identity)
{
    *identity = MachineIdentity{};
}

}  // namespace zar
