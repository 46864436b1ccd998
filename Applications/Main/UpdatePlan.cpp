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

uint32_t PieceBytes(uint32_t sectorStart, uint16_t pieces, int32_t imageSize)
{
    uint32_t bytes = 0;
    for (int32_t i = 0; i < PIECES_IN_SECTOR; ++i) {
        if ((pieces & (1u << i)) == 0)
            continue;
        uint32_t start = sectorStart + static_cast<uint32_t>(i) * PIECE_BYTES;
        uint32_t end = start + PIECE_BYTES;
        if (end > static_cast<uint32_t>(imageSize))
            end = static_cast<uint32_t>(imageSize);
        bytes += end > start ? end - start : 0;
    }
    return bytes;
}

// One block: whether it is erased whole, and each sector's action.
bool PlanBlock(SectorPlan* row, EraseUnits units, bool* conflict)
{
    bool allToWrite = true, anyErase = false, anyKept = false;
    for (int32_t i = 0; i < SECTORS_IN_BLOCK; ++i) {
        allToWrite = allToWrite && ToWrite(row[i]);
        anyErase = anyErase || NeedsErase(row[i]);
        anyKept = anyKept || row[i].Kept;
    }
    bool whole = anyErase && units.Block && (allToWrite || !units.Sector);
    *conflict = whole && anyKept;
    if (*conflict)
        whole = false;
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

}  // namespace

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

PlanTotals PlanUpdate(SectorPlan* sectors, int32_t blocks, EraseUnits units, int32_t imageSize, bool* blockErase)
{
    if (!units.Sector && !units.Block)
        units.Sector = true;
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
            const SectorPlan& sector = row[i];
            if (sector.Found == SectorFound::Outside)
                continue;
            ++totals.Sectors;
            uint32_t start = static_cast<uint32_t>(block * SECTORS_IN_BLOCK + i) * SECTOR_BYTES;
            switch (sector.Action) {
            case SectorAction::Leave:
                ++totals.Equal;
                break;
            case SectorAction::Keep:
                ++totals.Kept;
                break;
            case SectorAction::EraseWrite:
                ++totals.SectorErases;
                [[fallthrough]];
            case SectorAction::Write:
                ++totals.ToWrite;
                totals.ProgramBytes += PieceBytes(start, sector.Pieces, imageSize);
                break;
            }
        }
    }
    return totals;
}

}  // namespace zar
