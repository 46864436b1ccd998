// Real SPI NOR parts as the simulator models them: the flasher's part table
// row of each, with the behaviour and times of its maker's datasheet.
#pragma once

#include <stdint.h>

#include "flash/PartTable.h"

namespace zar::sim {

enum class ProgramMethod : uint8_t {
    Page,      // PAGE_PROGRAM (0x02) of up to PageSize bytes, wrapping inside the page
    AaiWord,   // SST: AAI_WORD_PROGRAM (0xAD), two bytes per command
    AaiByte,   // SST: AAI_BYTE_PROGRAM (0xAF), one byte per command
    ByteOnly,  // PAGE_PROGRAM writes one byte per command (the first data byte)
};

// The values of an entry, one bit each, for saying where they come from.
namespace field {
constexpr uint32_t RDID = 1u << 0;
constexpr uint32_t RES = 1u << 1;  // the RES answer, its continuation byte included
constexpr uint32_t SIZE = 1u << 2;
constexpr uint32_t PAGE = 1u << 3;
constexpr uint32_t ERASE_UNITS = 1u << 4;
constexpr uint32_t METHOD = 1u << 5;
constexpr uint32_t POWER_UP = 1u << 6;       // PowerUpProtected
constexpr uint32_t STATUS_ENABLE = 1u << 7;  // WrsrNeedsEwsr, HasEwsr
constexpr uint32_t PROTECT_BITS = 1u << 8;
constexpr uint32_t SECTOR_ERASE_TYP = 1u << 9;
constexpr uint32_t SECTOR_ERASE_MAX = 1u << 10;
constexpr uint32_t BLOCK_ERASE_TYP = 1u << 11;
constexpr uint32_t BLOCK_ERASE_MAX = 1u << 12;
constexpr uint32_t PROGRAM_TYP = 1u << 13;
constexpr uint32_t PROGRAM_MAX = 1u << 14;
constexpr uint32_t STATUS_WRITE_TIME = 1u << 15;  // typical and maximum
constexpr int COUNT = 16;
constexpr uint32_t ERASE_AND_PROGRAM_TIMES =
    SECTOR_ERASE_TYP | SECTOR_ERASE_MAX | BLOCK_ERASE_TYP | BLOCK_ERASE_MAX | PROGRAM_TYP | PROGRAM_MAX;
constexpr uint32_t TIMES = ERASE_AND_PROGRAM_TIMES | STATUS_WRITE_TIME;

const char* Name(int bit);  // "RES answer", "0x20 erase max", ...
}  // namespace field

struct ChipInfo {
    const FlashPart* Part;   // name, identification, size, page and erase units
    const char* Sources;     // the documents the values come from
    ProgramMethod Method;
    bool PowerUpProtected;   // block-protect bits set at power-up
    bool WrsrNeedsEwsr;      // WRSR refused unless EWSR came first
    // Typical and maximum times, in microseconds
    uint32_t SectorEraseTypUs, SectorEraseMaxUs;
    uint32_t BlockEraseTypUs, BlockEraseMaxUs;
    uint32_t ProgramTypUs, ProgramMaxUs;  // one page, one AAI command, or one byte
    uint32_t StatusWriteTypUs, StatusWriteMaxUs;
    bool FitsAlgorithms;     // false: a run on it must fail its blank check or verify
    const char* Note;        // why it does not fit, or what is special
    uint8_t ProtectBits;     // status bits that protect the array while any is set; WRSR writes them
    bool HasEwsr;            // knows EWSR (0x50): it enables the WRSR right after it, WEL or not
    uint8_t ResContinuation; // nonzero: RES sends this after its two bytes, then repeats all three
    // Where each value stands (field bits). Unverified: no document confirmed
    // it. Borrowed: the named document gives it for a sister part or another
    // revision. Every other value is the part's own, in the named documents.
    uint32_t Unverified;
    uint32_t Borrowed;
};

int ChipCount();
const ChipInfo& ChipAt(int index);
const ChipInfo* FindChip(const char* name);  // case-insensitive; nullptr if unknown
const ChipInfo& DefaultChip();               // a page-program part

}  // namespace zar::sim
