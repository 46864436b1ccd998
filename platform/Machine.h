// The machine the flasher runs on, for the run's record: the firmware's clock
// and the identity the firmware gives in SMBIOS (type 1, System Information).
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

// Copies length bytes of text into out, without the blanks at either end,
// cut at IDENTITY_TEXT_MAX bytes and NUL-terminated.
void CopyIdentityText(char (&out)[IDENTITY_TEXT_MAX + 1], const char* text, size_t length);

}  // namespace zar
