// zar.efi only: the EC ports are real. One 8-bit in or out per call, never
// merged, dropped or moved past another memory access.
#include "platform/Platform.h"
#include "platform/uefi/UefiRuntime.h"

namespace zar {

uint8_t PortReadByte(uint16_t port)
{
    uint8_t value;
    __asm__ volatile("inb %w1, %b0" : "=a"(value) : "Nd"(port) : "memory");
    return value;
}

void PortWriteByte(uint16_t port, uint8_t value)
{
    __asm__ volatile("outb %b0, %w1" : : "a"(value), "Nd"(port) : "memory");
}

// The firmware's drivers poll their devices from timer events, and a
// keyboard or EC driver may poll these very ports (uefi::RaiseToNotify).
void HoldFirmwareEvents()
{
    uefi::RaiseToNotify();
}

void ReleaseFirmwareEvents()
{
    uefi::RestoreApplicationTpl();
}

}  // namespace zar
