#include "Applications/Main/UpdatePlan.h"

namespace zar {
namespace {

bool ToWrite(const SectorPlan& sector)
{
    return !sector.Kept && (sector.Found == SectorFound::Erased || sector.Found == SectorFound::Differs);
}

bool NeedsErase(const SectorPlan& sector)
{
    return !sector.Kept && sector.Found == SectorFound::Differs;
}

uint32_t PieceBytes(uint32_t sectorStart, uint16_t pieces, uint32_t end)
{
    uint32_t bytes = 0;
    for (int32_t i = 0; i < PIECES_IN_SECTOR; ++i) {
        if ((pieces & (1u << i)) == 0)
            continue;
        uint32_t start = sectorStart + static_cast<uint32_t>(i) * PIECE_BYTES;
        uint32_t stop = start + PIECE_BYTES < end ? start + PIECE_BYTES : end;
        bytes += stop > start ? stop - start : 0;
    }
    return bytes;
}

// The sector's bytes below end.
uint32_t BytesBelow(uint32_t end, uint32_t sectorStart)
{
    uint32_t rest = end > sectorStart ? end - sectorStart : 0;
    return rest < SECTOR_BYTES ? rest : SECTOR_BYTES;
}

EraseUnits Normalised(EraseUnits units)
{
    return units.Sector || units.Block ? units : EraseUnits{true, false};
}

// One block: whether it is erased whole, and each sector's action.
bool PlanBlock(SectorPlan* row, EraseUnits units, bool* conflict)
{
    bool allToWrite = true, anyErase = false;
    for (int32_t i = 0; i < SECTORS_IN_BLOCK; ++i) {
        allToWrite = allToWrite && ToWrite(row[i]);
        anyErase = anyErase || NeedsErase(row[i]);
    }
    *conflict = KeepConflict(row, units);
    bool whole = anyErase && units.Block && (allToWrite || !units.Sector) && !*conflict;
    for (int32_t i = 0; i < SECTORS_IN_BLOCK; ++i) {
        SectorPlan& sector = row[i];
        if (sector.Kept)
            sector.Action = SectorAction::Keep;
        else if (sector.Found == SectorFound::Outside)
            sector.Action = SectorAction::Leave;
        else if (whole)
            sector.Action = SectorAction::Write;  // equal ones too: the erase takes them
        else if (sector.Found == SectorFound::Differs)
            sector.Action = SectorAction::EraseWrite;
        else if (sector.Found == SectorFound::Erased)
            sector.Action = SectorAction::Write;
        else
            sector.Action = SectorAction::Leave;
    }
    return whole;
}

// Adds one sector's share to the totals.
void Count(const SectorPlan& sector, uint32_t start, PlanRange range, bool blockErased, PlanTotals* totals)
{
    bool written = sector.Action == SectorAction::Write || sector.Action == SectorAction::EraseWrite;
    bool erased = sector.Action == SectorAction::EraseWrite || (written && blockErased);
    uint32_t imageBytes = BytesBelow(range.ImageEnd, start);
    if (erased)
        totals->CarriedBytes += BytesBelow(range.CoverEnd, start) - imageBytes;
    if (written)
        totals->ProgramBytes += PieceBytes(start, sector.Pieces, range.CoverEnd);
    totals->SectorErases += sector.Action == SectorAction::EraseWrite ? 1 : 0;
    if (imageBytes == 0)
        return;  // past the image: not one of its sectors
    ++totals->Sectors;
    totals->ToWrite += written ? 1 : 0;
    totals->Equal += sector.Action == SectorAction::Leave ? 1 : 0;
    totals->Kept += sector.Action == SectorAction::Keep ? 1 : 0;
}

}  // namespace

EraseUnits EraseUnitsOf(const FlashChip& chip)
{
    const FlashPart* part = chip.Known.Part;
    if (part == nullptr)
        return chip.Maker() == MAKER_ST ? EraseUnits{false, true} : EraseUnits{true, false};
    return {part->SectorEraseUnit == SECTOR_BYTES, part->BlockEraseUnit == 0x10000};
}

uint8_t UpdateEraseOpcode(EraseUnits units)
{
    return Normalised(units).Sector ? SECTOR_ERASE : BLOCK_ERASE;
}

uint32_t CoverEnd(uint32_t imageSize, EraseUnits units)
{
    uint32_t unit = Normalised(units).Sector ? SECTOR_BYTES : static_cast<uint32_t>(SECTORS_IN_BLOCK) * SECTOR_BYTES;
    return (imageSize + unit - 1) / unit * unit;
}

bool KeepConflict(const SectorPlan* row, EraseUnits units)
{
    units = Normalised(units);
    if (units.Sector)
        return false;
    bool anyKept = false, anyToWrite = false;
    for (int32_t i = 0; i < SECTORS_IN_BLOCK; ++i) {
        anyKept = anyKept || row[i].Kept;
        anyToWrite = anyToWrite || ToWrite(row[i]);
    }
    return anyKept && anyToWrite;
}

uint16_t PiecesToProgram(const uint8_t* bytes, uint32_t count)
{
    uint16_t pieces = 0;
    for (uint32_t at = 0; at < count; ++at) {
        if (bytes[at] != 0xFF) {
            pieces = static_cast<uint16_t>(pieces | (1u << (at / PIECE_BYTES)));
            at |= PIECE_BYTES - 1;  // the rest of this piece can't add anything
        }
    }
    return pieces;
}

PlanTotals PlanUpdate(SectorPlan* sectors, int32_t blocks, EraseUnits units, PlanRange range, bool* blockErase)
{
    units = Normalised(units);
    PlanTotals totals = {};
    totals.KeepConflictBlock = -1;
    for (int32_t block = 0; block < blocks; ++block) {
        SectorPlan* row = sectors + block * SECTORS_IN_BLOCK;
        bool conflict = false;
        blockErase[block] = PlanBlock(row, units, &conflict);
        if (conflict && totals.KeepConflictBlock < 0)
            totals.KeepConflictBlock = block;
        totals.BlockErases += blockErase[block] ? 1 : 0;
        for (int32_t i = 0; i < SECTORS_IN_BLOCK; ++i) {
            if (row[i].Found != SectorFound::Outside)
                Count(row[i], static_cast<uint32_t>(block * SECTORS_IN_BLOCK + i) * SECTOR_BYTES, range,
                      blockErase[block], &totals);
        }
    }
    return totals;
}

}  // namespace zar
