// SPI NOR opcodes and status bits, by their datasheet names.
#pragma once

#include <stdint.h>

namespace zar {

enum SpiOpcode : uint8_t {
    WRSR = 0x01,              // Write Status Register (one byte)
    PAGE_PROGRAM = 0x02,      // Page Program: address, then up to a page of data
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

constexpr uint8_t SR_WIP = 0x01;  // write in progress
constexpr uint8_t SR_WEL = 0x02;  // write enable latch
constexpr uint8_t SR_BP0_BP2 = 0x1C;  // block protect bits 0-2
constexpr uint8_t SR_BIT5 = 0x20;     // BP3 on some parts, top/bottom protect on others
constexpr uint8_t SR_SRWD = 0x80;     // status register write disable (BPL on SST)

// Makers whose parts are written differently
constexpr uint8_t MAKER_SST = 0xBF;   // auto-address-increment programming, EWSR before WRSR
constexpr uint8_t MAKER_ST = 0x20;    // 64 KiB BLOCK_ERASE instead of SECTOR_ERASE
constexpr uint8_t MAKER_MXIC = 0xC2;  // with FlashId[2] 0x10: 32-byte chunked programming
constexpr uint8_t MXIC_CHUNKED_ID2 = 0x10;

}  // namespace zar
