// SPI NOR opcodes and status bits, by their datasheet names, and what each
// opcode's transaction carries and does: the flasher sends them, the
// simulated chip, the SPI log decoder, zar-sweep and the tests read them.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace zar {

enum SpiOpcode : uint8_t {
    WRSR = 0x01,              // Write Status Register (one byte)
    PAGE_PROGRAM = 0x02,      // Page Program: address, then up to a page of data
    READ = 0x03,              // Read: address, then data (the simulated chip knows it; not in SPI_OPCODES)
    WRDI = 0x04,              // Write Disable
    RDSR = 0x05,              // Read Status Register (repeats while selected)
    WREN = 0x06,              // Write Enable
    FAST_READ = 0x0B,         // Fast Read: address, one dummy byte, then data
    SECTOR_ERASE = 0x20,      // 4 KiB sector erase
    EWSR = 0x50,              // Enable Write Status Register (SST)
    RDID = 0x9F,              // JEDEC Read Identification
    RES = 0xAB,               // Release from Deep Power-down / Read Electronic Signature
    AAI_WORD_PROGRAM = 0xAD,  // Auto Address Increment, two bytes per command (SST)
    AAI_BYTE_PROGRAM = 0xAF,  // Auto Address Increment, one byte per command (SST)
    BLOCK_ERASE = 0xD8,       // 64 KiB block erase (the only erase on ST's M25P parts)
};

// What an opcode's transaction carries and does.
enum OpcodeProperty : uint16_t {
    OP_ADDRESS = 1,          // three address bytes follow the opcode (AAI: on the first command only)
    OP_DUMMY = 2,            // then one dummy byte before the data
    OP_AAI = 4,              // one command of an auto-address-increment sequence
    OP_READS_ARRAY = 8,      // the chip sends array bytes for as long as the host reads
    OP_PROGRAMS = 16,        // the host's data bytes are programmed into the array
    OP_ERASES = 32,          // erases the sector or block at the address
    OP_WRITES_STATUS = 64,   // writes the status register
    OP_ENABLES_WRITE = 128,  // opens the way to a write (sets WEL, or enables WRSR)
    OP_POLLS = 256,          // the chip repeats its answer while selected
};

// Opcodes that change the chip or prepare a change.
constexpr uint16_t OP_WRITES = OP_PROGRAMS | OP_ERASES | OP_WRITES_STATUS | OP_ENABLES_WRITE;

// Every opcode the flasher sends, as the SPI log names it. READ is left out:
// the flasher never sends it, and a log shows it by its number.
struct SpiOpcodeInfo {
    uint8_t Opcode;
    const char* Name;  // the datasheet's, as the SPI log shows it
    uint16_t Properties;
};

inline constexpr SpiOpcodeInfo SPI_OPCODES[] = {
    {WRSR, "WRSR", OP_WRITES_STATUS},
    {PAGE_PROGRAM, "PAGE_PROGRAM", OP_ADDRESS | OP_PROGRAMS},
    {WRDI, "WRDI", 0},
    {RDSR, "RDSR", OP_POLLS},
    {WREN, "WREN", OP_ENABLES_WRITE},
    {FAST_READ, "FAST_READ", OP_ADDRESS | OP_DUMMY | OP_READS_ARRAY},
    {SECTOR_ERASE, "SECTOR_ERASE", OP_ADDRESS | OP_ERASES},
    {EWSR, "EWSR", OP_ENABLES_WRITE},
    {RDID, "RDID", 0},
    {RES, "RES", OP_ADDRESS},
    {AAI_WORD_PROGRAM, "AAI_WORD_PROGRAM", OP_ADDRESS | OP_AAI | OP_PROGRAMS},
    {AAI_BYTE_PROGRAM, "AAI_BYTE_PROGRAM", OP_ADDRESS | OP_AAI | OP_PROGRAMS},
    {BLOCK_ERASE, "BLOCK_ERASE", OP_ADDRESS | OP_ERASES},
};

// The opcode's row; nullptr for one the flasher does not send.
constexpr const SpiOpcodeInfo* FindSpiOpcode(uint8_t opcode)
{
    for (const SpiOpcodeInfo& info : SPI_OPCODES) {
        if (info.Opcode == opcode)
            return &info;
    }
    return nullptr;
}

// Its properties; 0 for an unknown opcode.
constexpr uint16_t SpiOpcodeProperties(uint8_t opcode)
{
    const SpiOpcodeInfo* info = FindSpiOpcode(opcode);
    return info ? info->Properties : 0;
}

constexpr uint8_t SR_WIP = 0x01;  // write in progress
constexpr uint8_t SR_WEL = 0x02;  // write enable latch
constexpr uint8_t SR_BP0_BP2 = 0x1C;  // block protect bits 0-2
constexpr uint8_t SR_BIT5 = 0x20;     // BP3 on some parts, top/bottom protect on others
constexpr uint8_t SR_SRWD = 0x80;     // status register write disable (BPL on SST, SPRL on Atmel)
constexpr uint8_t SR_SWP = 0x0C;      // Atmel AT25DF: software protection status, bits 3:2

// Makers whose parts are written differently
constexpr uint8_t MAKER_SST = 0xBF;   // auto-address-increment programming, EWSR before WRSR
constexpr uint8_t MAKER_ST = 0x20;    // 64 KiB BLOCK_ERASE instead of SECTOR_ERASE
constexpr uint8_t MAKER_MXIC = 0xC2;  // with FlashId[2] 0x10: 32-byte chunked programming
constexpr uint8_t MAKER_ATMEL = 0x1F;  // JEDEC's Atmel: another layout of the protect bits
constexpr uint8_t MXIC_CHUNKED_ID2 = 0x10;

}  // namespace zar
