// The machine the flasher runs on, for the run's record: the firmware's clock,
// a clock for durations, the identity the firmware gives in SMBIOS (type 1,
// System Information) and the station's name.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace zar {

// The clock as the firmware keeps it: usually local time, no time zone.
struct WallClock {
    uint16_t Year;
    uint8_t Month;   // 1-12
    uint8_t Day;     // 1-31
    uint8_t Hour;    // 0-23
    uint8_t Minute;  // 0-59
    uint8_t Second;  // 0-59
};

// False when there is no clock or it gives a date that can't be.
[[nodiscard]] bool ReadWallClock(WallClock* clock);
// The fields' ranges only; no calendar beyond days 1-31.
bool WallClockValid(const WallClock& clock);

// Milliseconds from an arbitrary start, on a clock that only moves forward:
// how long a run took. False when the platform has no such clock. Linux:
// CLOCK_MONOTONIC. UEFI: the processor's time-stamp counter, its rate
// measured once against the firmware's Stall.
[[nodiscard]] bool ReadMilliseconds(uint64_t* milliseconds);

// Each text is empty when the firmware does not give it; at most
// IDENTITY_TEXT_MAX bytes, as the firmware wrote them, blanks at either end
// taken off.
constexpr size_t IDENTITY_TEXT_MAX = 64;
struct MachineIdentity {
    char Manufacturer[IDENTITY_TEXT_MAX + 1];
    char ProductName[IDENTITY_TEXT_MAX + 1];
    char SerialNumber[IDENTITY_TEXT_MAX + 1];
};

// The simulated machine's when one is set, otherwise the firmware's.
void ReadMachineIdentity(MachineIdentity* identity);
// zar-sim's --machine: reported instead of the firmware's. nullptr: the
// firmware's again.
void SetSimulatedMachine(const MachineIdentity* identity);

// Each platform's: SMBIOS under UEFI, nothing on Linux.
void ReadFirmwareMachineIdentity(MachineIdentity* identity);

// The station the run is made at, for the run's record: zar-sim's --station
// when set, otherwise the platform's (the Shell variable zar_station under
// UEFI, none on Linux). Empty when there is none; cut at IDENTITY_TEXT_MAX
// bytes.
void ReadStationName(char (&name)[IDENTITY_TEXT_MAX + 1]);
// zar-sim's --station: reported instead of the platform's. nullptr: the
// platform's again.
void SetSimulatedStation(const char* name);
// Each platform's: the Shell variable under UEFI, nothing on Linux.
void ReadPlatformStationName(char (&name)[IDENTITY_TEXT_MAX + 1]);

// Copies length bytes of text into out, without the blanks at either end,
// cut at IDENTITY_TEXT_MAX bytes and NUL-terminated.
void CopyIdentityText(char (&out)[IDENTITY_TEXT_MAX + 1], const char* text, size_t length);

}  // namespace zar
