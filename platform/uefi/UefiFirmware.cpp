// The firmware around a run, as a Shell application meets it: the task
// priority level, the watchdog and the Shell's Ctrl-C. The EDK2 sources
// named below are tianocore/edk2's (MdeModulePkg, ShellPkg).
#include "platform/Platform.h"
#include "platform/uefi/UefiRuntime.h"

namespace zar::uefi {
namespace {

bool gRaised = false;
EFI_TPL gOuterTpl = TPL_APPLICATION;

}  // namespace

// At TPL_NOTIFY every TPL_CALLBACK and TPL_NOTIFY notification waits for the
// restore, which dispatches what came meanwhile (Core/Dxe/Event/Tpl.c,
// CoreRestoreTpl): drivers' timer callbacks, OVMF's PS/2 keyboard poll of
// 0x60/0x64 every 20 ms (Ps2KeyboardDxe) and the software watchdog among
// them. Timer interrupts still keep time. TPL_HIGH_LEVEL would stop
// interrupts as well; UEFI 2.11 (section 7.1) leaves it to the firmware, and
// neither level holds off an SMI.
void RaiseToNotify()
{
    if (gRaised || gFirmware.Boot == nullptr)
        return;
    gOuterTpl = gFirmware.Boot->RaiseTPL(TPL_NOTIFY);
    gRaised = true;
}

void RestoreApplicationTpl()
{
    if (!gRaised)
        return;
    gRaised = false;
    gFirmware.Boot->RestoreTPL(gOuterTpl);
}

}  // namespace zar::uefi

namespace zar {

using uefi::gFirmware;

// The boot manager arms a 5-minute watchdog before it starts a boot option
// (UefiBootManagerLib/BmBoot.c, EfiBootManagerBoot). The Shell switches it
// off once, when it starts (ShellPkg Shell.c, UefiMain), but anything run
// before us in the same Shell may arm it again, and its expiry resets the
// machine, mid-write if need be. A timeout of 0 switches it off.
void DisableWatchdog()
{
    if (gFirmware.Boot)
        gFirmware.Boot->SetWatchdogTimer(0, 0, 0, nullptr);
}

// The Shell signals ExecutionBreak on Ctrl-C (ShellProtocol.c,
// NotificationFunction), and its script runner ends a script after any line
// that left it signalled (Shell.c, RunScriptFileHandle). The event has no
// notification function, so CheckEvent tells whether it is signalled and
// clears it.
bool TakeBreakRequest()
{
    EFI_SHELL_PROTOCOL* shell = gFirmware.Shell;
    if (gFirmware.Boot == nullptr || shell == nullptr || shell->ExecutionBreak == nullptr)
        return false;
    return gFirmware.Boot->CheckEvent(shell->ExecutionBreak) == EFI_SUCCESS;
}

}  // namespace zar
