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

struct ChipInfo {
    const FlashPart* Part;   // name, identification, size, page and erase units
    const char* Datasheet;   // maker's document the values come from
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
};

int ChipCount();
const ChipInfo& ChipAt(int index);
const ChipInfo* FindChip(const char* name);  // case-insensitive; nullptr if unknown
const ChipInfo& DefaultChip();               // a page-program part

}  // namespace zar::sim
