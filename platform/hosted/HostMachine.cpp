// The machine on Linux: the host's clocks, and no firmware identity or station
// (zar-sim simulates them with --machine and --station).
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

bool ReadMilliseconds(uint64_t* milliseconds)
{
    hosted::NoteServiceCall();
    struct timespec now;
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0)
        return false;
    *milliseconds = static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
    return true;
}

void ReadPlatformStationName(char (&name)[IDENTITY_TEXT_MAX + 1])
{
    name[0] = 0;
}

void ReadFirmwareMachineIdentity(MachineIdentity* identity)
{
    *identity = MachineIdentity{};
}

}  // namespace zar
