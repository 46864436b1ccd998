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
    const char* Name;  // the maker as its line names it
};

constexpr int VENDOR_COUNT = 10;

// Status reads of 0xFF in a row after which identification takes the chip for
// absent. 0xFF would be WIP and WEL with every protection bit, SRWD and bit 6
// set at once: no part shows that before it has been sent a command (a part
// still erasing for an interrupted run reads 0x03), while an absent chip
// leaves MISO floating high and reads 0xFF for ever. A poll is at least five
// accesses of about 1 us on LPC: 100,000 polls are 0.5 s on an EC without
// latency, 0.9 s at zar-sim's real timing (2 us to answer), and still under
// 5 s for an EC that takes 20 us; the full flash-busy bound is 40 s or more.
constexpr uint32_t NO_CHIP_POLLS = 100000;
extern const VendorRow VendorTable[VENDOR_COUNT];

void FlashWaitReady();
void FlashWriteEnable();
void FlashWriteDisable();
// Fills FlashId (and SstIdByRes, IdByRes). Its waits give up on an absent
// chip within NO_CHIP_POLLS reads and leave the channel alive, so the caller
// can tell from the ID bytes (IdentifyPart) and still hand the EC back.
void FlashIdentify();
void FlashReportIdentity();
void FlashUnprotect();

// Helpers for the operations of flash/: one SPI transaction piece each.
void SpiStart(uint8_t opcode);                      // FOLLOW_START, FOLLOW_OPCODE opcode
void SpiWrite(uint8_t value);                       // FOLLOW_WRITE value
void SpiStartAt(uint8_t opcode, uint8_t a2, uint8_t a1, uint8_t a0);  // opcode + 24-bit address

}  // namespace zar
