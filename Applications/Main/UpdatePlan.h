// What an update does to each 4 KiB sector of the range it covers (the
// image, and the rest of the erase unit the image ends in, whose bytes are
// written back as the chip held them), decided from what the chip holds
// before anything is erased: leave it, keep it, program it into bytes that
// are already 0xFF, or erase and program it. Where a whole 64 KiB block is to
// be written, one block erase replaces its sixteen sector erases. Nothing
// here touches the chip.
#pragma once

#include <stdint.h>

#include "flash/FlashPrimitives.h"

namespace zar {

constexpr uint32_t SECTOR_BYTES = 0x1000;
constexpr int32_t SECTORS_IN_BLOCK = 16;
// The unit programmed or skipped: a page on page parts, and on AAI parts a
// run of 0xFF long enough that a new AAI sequence costs less than sending it.
constexpr uint32_t PIECE_BYTES = 256;
constexpr int32_t PIECES_IN_SECTOR = SECTOR_BYTES / PIECE_BYTES;

// What the read found in a sector.
enum class SectorFound : uint8_t {
    Equal,    // every image byte is there already
    Erased,   // differs, and reads all 0xFF: it can be programmed as it is
    Differs,  // differs, and holds programmed bytes: it needs an erase
    Outside,  // past the covered range, in the image's last block
};

enum class SectorAction : uint8_t {
    Leave,       // equal, or outside the image
    Keep,        // in a kept range: never erased, never programmed
    Write,       // programmed without an erase of its own (blank, or its block is erased)
    EraseWrite,  // one 4 KiB erase, then programmed
};

struct SectorPlan {
    SectorFound Found;
    bool Kept;
    uint16_t Pieces;  // bit i: the image's bytes of piece i are not all 0xFF
    SectorAction Action;
    uint32_t ChipSum;  // the chip's bytes added up, when the read went to the sector's end
};

// The erases the part has, from its part table row.
struct EraseUnits {
    bool Sector;  // SECTOR_ERASE (0x20) erases 4 KiB
    bool Block;   // BLOCK_ERASE (0xD8) erases 64 KiB
};

// The chip's, from its part table row; a part not in the table as the
// classic run erases it (ST's parts only by 64 KiB).
EraseUnits EraseUnitsOf(const FlashChip& chip);
// The erase /update sends to sectors that need one: SECTOR_ERASE unless the
// part has only BLOCK_ERASE.
uint8_t UpdateEraseOpcode(EraseUnits units);

// The image's end, and the end of the erase unit it ends in: bytes between
// the two are the chip's own, and an erase that takes them must write them
// back. A sector's target is the image's bytes, then the chip's.
struct PlanRange {
    uint32_t ImageEnd;
    uint32_t CoverEnd;
};

struct PlanTotals {
    int32_t Sectors;       // with image bytes in them
    int32_t ToWrite;       // of them, Write and EraseWrite
    int32_t Equal;         // left alone
    int32_t Kept;
    int32_t SectorErases;  // 4 KiB erases
    int32_t BlockErases;   // 64 KiB erases
    uint32_t ProgramBytes;
    uint32_t CarriedBytes;      // past the image's end in erased units: written back as they were
    int32_t KeepConflictBlock;  // -1, or the first block that holds a kept sector and may not be written
};

// The bits of the pieces of `bytes` (one sector's image bytes, count of them)
// that are not all 0xFF.
uint16_t PiecesToProgram(const uint8_t* bytes, uint32_t count);

// Where the covered range ends for an image of imageSize bytes: at the end
// of the 4 KiB sector it ends in, or of the 64 KiB block on a part that
// erases only whole blocks.
uint32_t CoverEnd(uint32_t imageSize, EraseUnits units);

// On a part that erases only whole 64 KiB blocks, a block that holds a kept
// sector may not be written at all: a cut in the middle leaves a sector that
// only the block's erase clears, and that erase takes the kept bytes, which
// then exist nowhere. Whether the block's row is such a block.
bool KeepConflict(const SectorPlan* row, EraseUnits units);

// Decides every sector's Action and, per block, whether one 64 KiB erase
// takes it (blockErase[block]). sectors holds blocks × 16 entries from flash
// address 0, with Found, Kept and Pieces filled in. A block is erased whole
// when it has a sector that needs an erase and either every one of its
// sectors is to be written, or the part has no 4 KiB erase (then its equal
// sectors are written back). A part with neither erase listed is taken to
// have the 4 KiB one. range.CoverEnd clips the last piece.
PlanTotals PlanUpdate(SectorPlan* sectors, int32_t blocks, EraseUnits units, PlanRange range, bool* blockErase);

}  // namespace zar
