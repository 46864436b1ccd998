// The machine under UEFI: the firmware's clock (GetTime), the processor's
// time-stamp counter for durations, the station's name from the Shell, and
// the identity in its SMBIOS tables (type 1, System Information). Layouts from DMTF DSP0134
// (the SMBIOS reference): the 2.1 entry point "_SM_" (31 bytes,
// with the "_DMI_" part at 0x10), the 3.0 entry point "_SM3_" (24 bytes), and
// type 1's string numbers at 0x04 (manufacturer), 0x05 (product name) and
// 0x07 (serial number).
//
// The tables are the firmware's, so they are read with care: every length is
// checked against the space it claims, both checksums must hold, and a
// structure or string that runs past the table's end ends the walk.
#include "platform/Format.h"
#include "platform/Machine.h"
#include "platform/uefi/UefiRuntime.h"

namespace zar {
namespace uefi {
namespace {

EFI_GUID gSmbios3Guid = SMBIOS3_TABLE_GUID;
EFI_GUID gSmbiosGuid = SMBIOS_TABLE_GUID;

// However large a table claims to be, no more than this is walked.
constexpr size_t MAX_TABLE_BYTES = 1024 * 1024;
constexpr uint8_t TYPE_SYSTEM_INFORMATION = 1;
constexpr uint8_t TYPE_END_OF_TABLE = 127;

struct Table {
    const uint8_t* Start;
    size_t Length;
};

bool SameGuid(const EFI_GUID& a, const EFI_GUID& b)
{
    auto* x = reinterpret_cast<const uint8_t*>(&a);
    auto* y = reinterpret_cast<const uint8_t*>(&b);
    for (size_t i = 0; i < sizeof(EFI_GUID); ++i) {
        if (x[i] != y[i])
            return false;
    }
    return true;
}

const uint8_t* ConfigurationTable(const EFI_SYSTEM_TABLE* system, const EFI_GUID& guid)
{
    if (system->ConfigurationTable == nullptr)
        return nullptr;
    for (UINTN i = 0; i < system->NumberOfTableEntries; ++i) {
        if (SameGuid(system->ConfigurationTable[i].VendorGuid, guid))
            return static_cast<const uint8_t*>(system->ConfigurationTable[i].VendorTable);
    }
    return nullptr;
}

uint64_t LittleEndian(const uint8_t* bytes, int count)
{
    uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | bytes[i];
    return value;
}

bool Anchored(const uint8_t* bytes, const char* anchor)
{
    for (; *anchor; ++anchor, ++bytes) {
        if (*bytes != static_cast<uint8_t>(*anchor))
            return false;
    }
    return true;
}

bool SumsToZero(const uint8_t* bytes, size_t count)
{
    uint8_t sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum = static_cast<uint8_t>(sum + bytes[i]);
    return sum == 0;
}

const uint8_t* Address(uint64_t physical)
{
    // Boot services run identity-mapped.
    return reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(physical));
}

// The 3.0 entry point: 24 bytes; a later revision may make it longer, not
// beyond 32 bytes. The table's size is a maximum: type 127 ends it earlier.
bool Entry3(const uint8_t* entry, Table* table)
{
    if (!Anchored(entry, "_SM3_"))
        return false;
    uint8_t length = entry[6];
    if (length < 0x18 || length > 0x20 || !SumsToZero(entry, length) || entry[7] < 3)
        return false;
    uint64_t size = LittleEndian(entry + 0x0C, 4);
    uint64_t address = LittleEndian(entry + 0x10, 8);
    if (address == 0 || address > UINTPTR_MAX - size)
        return false;
    *table = {Address(address), size < MAX_TABLE_BYTES ? static_cast<size_t>(size) : MAX_TABLE_BYTES};
    return true;
}

// The 2.1 entry point: 31 bytes (0x1E on some firmware that miscounted it).
bool Entry2(const uint8_t* entry, Table* table)
{
    if (!Anchored(entry, "_SM_"))
        return false;
    uint8_t length = entry[5];
    if (length < 0x1E || length > 0x20 || !SumsToZero(entry, length))
        return false;
    if (!Anchored(entry + 0x10, "_DMI_") || !SumsToZero(entry + 0x10, 0x0F))
        return false;
    uint64_t size = LittleEndian(entry + 0x16, 2);
    uint64_t address = LittleEndian(entry + 0x18, 4);
    if (address == 0)
        return false;
    *table = {Address(address), static_cast<size_t>(size)};
    return true;
}

// String `number` (from 1) of a structure whose strings run from `strings`
// for `length` bytes (without the final NUL pair); nothing for 0 or a number
// past the last.
void CopyString(char (&out)[IDENTITY_TEXT_MAX + 1], const uint8_t* strings, size_t length, uint8_t number)
{
    out[0] = 0;
    if (number == 0)
        return;
    size_t start = 0;
    for (uint8_t n = 1; start < length; ++n) {
        size_t end = start;
        while (end < length && strings[end] != 0)
            ++end;
        if (n == number) {
            CopyIdentityText(out, reinterpret_cast<const char*>(strings + start), end - start);
            return;
        }
        start = end + 1;
    }
}

void WalkTable(const Table& table, MachineIdentity* identity)
{
    const uint8_t* at = table.Start;
    size_t left = table.Length;
    while (left >= 4) {
        uint8_t type = at[0];
        size_t formatted = at[1];
        if (formatted < 4 || formatted > left)
            return;
        // The strings follow the formatted area and end with two NULs (a
        // structure without strings has just the two).
        const uint8_t* strings = at + formatted;
        size_t room = left - formatted;
        size_t end = 0;
        while (end + 1 < room && !(strings[end] == 0 && strings[end + 1] == 0))
            ++end;
        if (end + 1 >= room)
            return;
        if (type == TYPE_SYSTEM_INFORMATION) {
            if (formatted > 0x04)
                CopyString(identity->Manufacturer, strings, end, at[0x04]);
            if (formatted > 0x05)
                CopyString(identity->ProductName, strings, end, at[0x05]);
            if (formatted > 0x07)
                CopyString(identity->SerialNumber, strings, end, at[0x07]);
            return;
        }
        if (type == TYPE_END_OF_TABLE)
            return;
        size_t whole = formatted + end + 2;
        at += whole;
        left -= whole;
    }
}

}  // namespace

void ReadSmbiosIdentity(const EFI_SYSTEM_TABLE* system, MachineIdentity* identity)
{
    *identity = MachineIdentity{};
    if (system == nullptr)
        return;
    Table table;
    const uint8_t* entry3 = ConfigurationTable(system, gSmbios3Guid);
    const uint8_t* entry2 = ConfigurationTable(system, gSmbiosGuid);
    if (entry3 && Entry3(entry3, &table))
        WalkTable(table, identity);
    else if (entry2 && Entry2(entry2, &table))
        WalkTable(table, identity);
}

}  // namespace uefi

namespace {

// GetTime counts whole seconds on PC firmware (EDK2's PC-AT RTC driver,
// PcRtcGetTime, answers Nanosecond 0 and a resolution of 1 Hz): too coarse
// for a run's duration. The time-stamp counter is
// finer; its rate is measured once over 10 ms of the firmware's Stall, whose
// own call costs microseconds, so a duration is good to well within a percent
// and to the millisecond.
constexpr UINTN CALIBRATION_MICROSECONDS = 10000;
uint64_t gTicksPerMillisecond;  // 0 until measured

bool MeasureCounterRate()
{
    EFI_BOOT_SERVICES* boot = uefi::gFirmware.Boot;
    if (boot == nullptr)
        return false;
    uint64_t start = __builtin_ia32_rdtsc();
    if (EFI_ERROR(boot->Stall(CALIBRATION_MICROSECONDS)))
        return false;
    gTicksPerMillisecond = (__builtin_ia32_rdtsc() - start) / (CALIBRATION_MICROSECONDS / 1000);
    return gTicksPerMillisecond != 0;
}

}  // namespace

bool ReadMilliseconds(uint64_t* milliseconds)
{
    if (gTicksPerMillisecond == 0 && !MeasureCounterRate())
        return false;
    *milliseconds = __builtin_ia32_rdtsc() / gTicksPerMillisecond;
    return true;
}

// The UEFI Shell's environment (UEFI Shell 2.0's GetEnv): a factory's
// startup.nsh names its station with "set zar_station LINE-3". The Shell owns
// the text it returns. The older Shell interface has no GetEnv: no station.
void ReadPlatformStationName(char (&name)[IDENTITY_TEXT_MAX + 1])
{
    name[0] = 0;
    EFI_SHELL_PROTOCOL* shell = uefi::gFirmware.Shell;
    if (shell == nullptr || shell->GetEnv == nullptr)
        return;
    const CHAR16* value = shell->GetEnv(reinterpret_cast<CHAR16*>(const_cast<char16_t*>(u"zar_station")));
    if (value == nullptr)
        return;
    size_t units = 0;
    while (value[units] && units < IDENTITY_TEXT_MAX)
        ++units;
    char text[IDENTITY_TEXT_MAX * 3 + 1];  // three UTF-8 bytes at most for each unit
    size_t length = Utf16ToUtf8(reinterpret_cast<const char16_t*>(value), units, text, sizeof text);
    CopyIdentityText(name, text, length);
}

bool ReadWallClock(WallClock* clock)
{
    EFI_RUNTIME_SERVICES* runtime = uefi::gFirmware.System ? uefi::gFirmware.System->RuntimeServices : nullptr;
    EFI_TIME time{};
    if (runtime == nullptr || EFI_ERROR(runtime->GetTime(&time, nullptr)))
        return false;
    *clock = {time.Year, time.Month, time.Day, time.Hour, time.Minute, time.Second};
    return WallClockValid(*clock);
}

void ReadFirmwareMachineIdentity(MachineIdentity* identity)
{
    uefi::ReadSmbiosIdentity(uefi::gFirmware.System, identity);
}

}  // namespace zar
