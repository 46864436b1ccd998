// What every flash operation is built from: status polls, write enable and
// disable, identification, the maker's name, and write-protection removal.
// Every poll is bounded (ec/EcChannel.h); when a bound runs out the channel
// is dead and the operations return at once.
#pragma once

#include <stdint.h>

namespace zar {

struct VendorRow {
    uint8_t Id;
    void (*PrintLine)();
};

constexpr int VENDOR_COUNT = 10;
extern const VendorRow VendorTable[VENDOR_COUNT];

void FlashWaitReady();
void FlashWriteEnable();
void FlashWriteDisable();
void FlashIdentify();
void FlashReportIdentity();
void FlashUnprotect();

// Helpers for the operations of flash/: one SPI transaction piece each.
void SpiStart(uint8_t opcode);                      // FOLLOW_START, FOLLOW_OPCODE opcode
void SpiWrite(uint8_t value);                       // FOLLOW_WRITE value
void SpiStartAt(uint8_t opcode, uint8_t a2, uint8_t a1, uint8_t a0);  // opcode + 24-bit address

}  // namespace zar
