#include "Applications/Main/UpdateRead.h"

#include "Applications/Main/ImageBlocks.h"
#include "Applications/Main/RunState.h"
#include "Applications/Main/UserBreak.h"
#include "Applications/Main/VerbSteps.h"
#include "ec/EcChannel.h"
#include "flash/FlashRead.h"
#include "platform/Platform.h"
#include "platform/Uninterrupted.h"

namespace zar {
namespace {

constexpr int32_t READ_MARKS = 16;

uint32_t BlockStart(int32_t block)
{
    return static_cast<uint32_t>(block) * static_cast<uint32_t>(BLOCK_SIZE);
}

// The covered range's bytes in the sector at address, and of them the image's.
uint32_t Below(uint32_t end, uint32_t address)
{
    uint32_t rest = end > address ? end - address : 0;
    return rest < SECTOR_BYTES ? rest : SECTOR_BYTES;
}

// One sector of the open FAST_READ: count bytes, compared with target (the
// block's bytes for the sector); into `saved` too when it is not nullptr.
// Past imageCount the chip's bytes become the target: they are to stay as
// they are. Unless `whole`, the read stops (*stopped) once the sector is
// known to need an erase: it differs and holds a byte other than 0xFF.
// False when the channel died.
bool ReadSector(uint8_t* target, uint32_t imageCount, uint32_t count, bool whole, SectorPlan* sector, uint8_t* saved,
                bool* stopped)
{
    uint8_t piece[PIECE_BYTES];
    bool equal = true, blank = true;
    uint32_t sum = 0;
    for (uint32_t at = 0; at < count; at += PIECE_BYTES) {
        uint32_t n = count - at < PIECE_BYTES ? count - at : PIECE_BYTES;
        uint8_t* chip = saved ? saved + at : piece;
        if (!FlashReadBytes(chip, n))
            return false;
        for (uint32_t i = 0; i < n; ++i) {
            if (at + i >= imageCount)
                target[at + i] = chip[i];
            else
                sum += chip[i];
            equal = equal && chip[i] == target[at + i];
            blank = blank && chip[i] == 0xFF;
        }
        if (!equal && !blank && !whole && at + n < count) {
            *stopped = true;
            break;
        }
    }
    sector->Found = equal ? SectorFound::Equal : blank ? SectorFound::Erased : SectorFound::Differs;
    sector->ChipSum = sum;
    return true;
}

// Reads the chip over one block's share of the covered range (the image's
// block is in RunState.Block) and fills in its sectors. False when the
// channel died. Uninterrupted: a FAST_READ stays open from sector to sector.
bool ReadBlock(const UpdateScan& scan, int32_t block)
{
    Uninterrupted held;
    SectorPlan* row = scan.Sectors + block * SECTORS_IN_BLOCK;
    bool open = false;
    for (int32_t i = 0; i < SECTORS_IN_BLOCK; ++i) {
        uint32_t address = BlockStart(block) + static_cast<uint32_t>(i) * SECTOR_BYTES;
        SectorPlan& sector = row[i];
        sector = {};
        sector.Kept = SectorKept(*scan.Options, address);
        uint32_t count = Below(scan.Range.CoverEnd, address);
        if (count == 0) {
            sector.Found = SectorFound::Outside;
            continue;
        }
        uint32_t imageCount = Below(scan.Range.ImageEnd, address);
        uint8_t* target = RunState.Block + static_cast<uint32_t>(i) * SECTOR_BYTES;
        MarkPlace(RunStage::PlanRead, address);
        if (!open)
            FlashReadStart(address);
        bool stopped = false;
        bool whole = sector.Kept || scan.Backup != nullptr || imageCount < count;
        uint8_t* saved = scan.Backup ? scan.Backup + address : nullptr;
        if (!ReadSector(target, imageCount, count, whole, &sector, saved, &stopped))
            return false;
        sector.Pieces = PiecesToProgram(target, count);
        open = !stopped;
        if (stopped)
            FlashReadEnd();
    }
    if (open)
        FlashReadEnd();
    return !EcChannelDead();
}

// The last block's bytes past the image's end: where they start in the
// block, and how many there are.
uint32_t TailStart(const UpdateScan& scan)
{
    return scan.Range.ImageEnd - BlockStart(scan.Blocks - 1);
}

uint32_t TailBytes(const UpdateScan& scan)
{
    return scan.Range.CoverEnd - scan.Range.ImageEnd;
}

}  // namespace

PassResult ReadPass(const UpdateScan& scan)
{
    Print(u"\n\rReading...       : ");
    int32_t marks = 0;
    for (int32_t block = 0;; ++block) {
        BlockRead read = ReadNextBlock();
        if (read == BlockRead::End)
            break;
        if (read == BlockRead::ReadError)
            return PassResult::ImageReadError;
        if (!ReadBlock(scan, block))
            return PassResult::NoAnswer;
        IgnoreBreak();
        if (block == scan.Blocks - 1)
            MemCopy(scan.Tail, RunState.Block + TailStart(scan), TailBytes(scan));
        for (; marks < (block + 1) * READ_MARKS / scan.Blocks; ++marks)
            Print(u"=");
    }
    Print(u" -- %d bytes. \n", scan.Range.CoverEnd);
    return PassResult::Done;
}

void PutTailBack(const UpdateScan& scan, int32_t block)
{
    if (block == scan.Blocks - 1)
        MemCopy(RunState.Block + TailStart(scan), scan.Tail, TailBytes(scan));
}

int32_t ReadBackupAgain(const UpdateScan& scan, uint32_t* first)
{
    Print(u"Reading again... : ");
    int32_t differing = ReadChipPass(RunStage::ReadPass2, nullptr, scan.Backup, scan.Range.CoverEnd, first);
    if (differing == 0)
        Print(u" -- Same. \n");
    else if (differing > 0)
        Print(u" -- Differ. \n");
    return differing;
}

}  // namespace zar
