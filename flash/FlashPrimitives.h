// What every flash operation is built from: status polls, write enable and
// disable, identification, the maker's name, and write-protection removal.
// Every poll is bounded (ec/EcChannel.h); when a bound runs out the channel
// is dead and the operations return at once.
#pragma once

#include <stdint.h>

#include "flash/PartTable.h"
#include "flash/SpiOpcodes.h"

namespace zar {

struct VendorRow {
    uint8_t Id;
    const char* Name;  // the maker as its "SPI Vendor" line names it
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

// The chip as identification found it.
struct FlashChip {
    uint8_t Id[4];          // as the chip sent them; Id[0] is the maker
    uint8_t RdidAnswer[4];  // what RDID answered, kept when RES took over
    bool ByRes;             // RDID answered 00: Id holds the RES answer
    ChipIdentity Known;     // what the part table makes of Id

    uint8_t Maker() const { return Id[0]; }
    // An SST part that only RES identified: the oldest ones, programmed a
    // byte per AAI command.
    bool SstByRes() const { return ByRes && Id[0] == MAKER_SST; }
};

// How a chip takes its data (the caller gives each its range).
enum class ProgramMethod : uint8_t { Pages, Chunked, AaiByte, AaiWord };
ProgramMethod ProgramMethodOf(const FlashChip& chip);

// What became of an erase, blank check, program or verify.
enum class FlashOutcome : uint8_t {
    Done,        // every byte of the range
    Differs,     // blank check or verify: a byte differs
    NoAnswer,    // the channel died on the way: nothing more was sent
    OutOfRange,  // the range leaves the 24-bit address space (or, for AAI
                 // words, is not word-aligned): nothing was sent
};

struct [[nodiscard]] FlashResult {
    FlashOutcome Outcome;
    uint32_t Bytes;    // bytes handled: all of them, or up to and including the one that differs
    uint32_t Sum;      // verify: the bytes read, added up
    uint8_t Found = 0;  // blank check or verify that Differs: the byte the chip gave there
};

// 24-bit addresses: 16 MiB.
constexpr uint32_t FLASH_ADDRESS_SPACE = 0x1000000;
bool InAddressSpace(uint32_t address, uint32_t count);

void FlashWaitReady();
void FlashWriteEnable(const FlashChip& chip);
void FlashWriteDisable();
// Its waits give up on an absent chip within NO_CHIP_POLLS reads and leave
// the channel alive, so the caller can tell from the ID bytes (Known) and
// still hand the EC back.
[[nodiscard]] FlashChip FlashIdentify();
void FlashReportIdentity(const FlashChip& chip);
// Clears the block-protect bits, and returns the status register as the wait
// after the status write last read it: a chip whose protection holds shows
// it there (ProtectBitsOf), without a read of its own.
uint8_t FlashUnprotect(const FlashChip& chip);

// The status bits that protect the array: BP0-BP2 (bits 4:2) on most parts.
// Atmel's AT25DF parts keep their sector protection's summary in bits 3:2
// (SWP) and the WP# pin's level in bit 4 (WPP), which reads 1 on a board
// that does not hold the pin low (chip-references.md, AT25DF041A).
uint8_t ProtectBitsOf(const FlashChip& chip);

// Whether the part can be written with the erase a command sends
// (SECTOR_ERASE or BLOCK_ERASE) and the flasher's programming.
enum class PartFit : uint8_t {
    Writable,       // or not in the part table: nothing there says otherwise
    NoSectorErase,  // it has no 4 KiB SECTOR_ERASE (0x20): the erase leaves every byte
    NoBlockErase,   // it has no 64 KiB BLOCK_ERASE (0xD8)
    NoPageProgram,  // programmed by 256-byte pages, which it does not have
};
PartFit PartFitFor(const FlashChip& chip, uint8_t eraseOpcode);

// Helpers for the operations of flash/: one SPI transaction piece each. The
// caller holds an Uninterrupted (platform/Uninterrupted.h) from the piece
// that opens a transaction to the one that ends it; the operations above
// hold their own.
void SpiStart(uint8_t opcode);                      // FOLLOW_START, FOLLOW_OPCODE opcode
void SpiWrite(uint8_t value);                       // FOLLOW_WRITE value
void SpiStartAt(uint8_t opcode, uint8_t a2, uint8_t a1, uint8_t a0);  // opcode + 24-bit address

// What has gone out on the bus that changes the chip, counted as the channel
// sends it, so that a run cut short counts what it sent and not what it
// meant to. A byte counts once it was written to the EC: one it never took is
// taken when the next run starts, and an erase whose address went out whole
// is done at the next chip select.
struct FlashBusTally {
    uint32_t Writes;        // opcodes that erase or program: what can change the array's bytes
    uint32_t SectorErases;  // SECTOR_ERASE with its whole address: the chip erases at chip select
    uint32_t BlockErases;   // BLOCK_ERASE the same
    uint32_t ProgramBytes;  // data bytes of programs (AAI's padding included)
};
FlashBusTally FlashBusSent();
// Every run starts from nothing.
void FlashBusReset();

}  // namespace zar
