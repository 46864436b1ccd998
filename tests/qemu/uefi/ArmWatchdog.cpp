// arm-watchdog.efi SECONDS: arms the firmware's watchdog, as a tool run
// before zar in the same Shell may, and returns. The Shell leaves it armed
// for the commands after it (it switches the watchdog off only when it
// starts: ShellPkg Shell.c, UefiMain). For the QEMU cases only; never on the
// stick.
#include "platform/Platform.h"
#include "platform/Text.h"
#include "platform/uefi/UefiRuntime.h"

namespace {

// Codes up to 0xFFFF are the firmware's own (UEFI, SetWatchdogTimer).
constexpr UINT64 WATCHDOG_CODE = 0x10000;

EFI_STATUS ArmWatchdog(int argc, char* argv[])
{
    uint64_t seconds = 0;
    if (argc != 2 || !zar::ParseNumber(argv[1], &seconds) || seconds == 0 || seconds > 3600) {
        zar::Print(u"usage: arm-watchdog SECONDS (1 to 3600)\n");
        return EFI_INVALID_PARAMETER;
    }
    EFI_STATUS status =
        zar::uefi::gFirmware.Boot->SetWatchdogTimer(static_cast<UINTN>(seconds), WATCHDOG_CODE, 0, nullptr);
    zar::Print(u"arm-watchdog: %d s, status 0x%lx\n", static_cast<int>(seconds), static_cast<uint64_t>(status));
    return status;
}

}  // namespace

extern "C" EFI_STATUS EFIAPI efi_main(EFI_HANDLE image, EFI_SYSTEM_TABLE* system)
{
    return zar::uefi::RunApplication(image, system, ArmWatchdog);
}
