// foreign-timer.efi: a boot-service driver that stands in for a firmware
// driver polling the EC on a timer. Loaded with the Shell's "load", it
// stays resident and writes MARKER to the EC's command port from a periodic
// TPL_CALLBACK timer event, as the firmware dispatches timer callbacks: on
// the timer interrupt, between two instructions of whatever application
// runs at a lower TPL (MdeModulePkg Core/Dxe/Event/Timer.c, Tpl.c). For the
// QEMU cases only; never on the stick.
#include "platform/uefi/Efi.h"

namespace {

// A byte the flasher never writes to 0x66 in the runs it is loaded for
// (tests/qemu/foreign-timer.sh checks zar-sim's trace for it).
constexpr uint8_t MARKER = 0xA5;
constexpr uint16_t EC_COMMAND_PORT = 0x66;
// 1 ms in 100 ns units: OVMF's timer ticks every 10 ms
// (OvmfPkg LocalApicTimerDxe, DEFAULT_TIMER_TICK_DURATION), so the event
// fires on every tick.
constexpr UINT64 PERIOD = 10000;

VOID EFIAPI WriteMarker(EFI_EVENT, VOID*)
{
    __asm__ volatile("outb %b0, %w1" : : "a"(MARKER), "Nd"(EC_COMMAND_PORT) : "memory");
}

}  // namespace

extern "C" EFI_STATUS EFIAPI efi_main(EFI_HANDLE, EFI_SYSTEM_TABLE* system)
{
    EFI_BOOT_SERVICES* boot = system->BootServices;
    EFI_EVENT timer = nullptr;
    EFI_STATUS status = boot->CreateEvent(EVT_TIMER | EVT_NOTIFY_SIGNAL, TPL_CALLBACK, WriteMarker, nullptr, &timer);
    if (EFI_ERROR(status))
        return status;
    status = boot->SetTimer(timer, TimerPeriodic, PERIOD);
    if (EFI_ERROR(status))
        boot->CloseEvent(timer);
    return status;  // an error unloads the driver
}
