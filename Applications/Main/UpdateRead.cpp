#include "Applications/Main/UpdateRead.h"

#include "Applications/Main/ImageBlocks.h"
#include "Applications/Main/Progress.h"
#include "Applications/Main/RunState.h"
#include "Applications/Main/UserBreak.h"
#include "Applications/Main/VerbSteps.h"
#include "ec/EcChannel.h"
#include "flash/FlashRead.h"
#include "platform/Platform.h"
#include "platform/Uninterrupted.h"

namespace zar {
namespace {

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

// One sector's read as it goes: the covered range's bytes in it (Count),
// the image's of them (ImageCount), how far it has come and what it found.
// Past ImageCount the chip's bytes become the target: they are to stay as
// they are. Unless Whole, the read stops once the sector is known to need an
// erase: it differs and holds a byte other than 0xFF.
struct SectorRead {
    uint8_t* Target;  // the block's bytes for the sector
    uint8_t* Saved;   // the backup's, or nullptr
    uint32_t Address;
    uint32_t ImageCount;
    uint32_t Count;
    bool Whole;
    uint32_t At;
    bool Equal;
    bool Blank;
    bool Stopped;
    uint32_t Sum;

    bool Finished() const { return At == Count || Stopped; }
};

// Up to budget bytes of the sector, in whole pieces, in a FAST_READ of its
// own: the progress line moves between them (platform/Uninterrupted.h).
// False when the channel died.
bool ReadSectorStep(SectorRead* read, uint32_t budget)
{
    Uninterrupted held;
    MarkPlace(RunStage::PlanRead, read->Address);
    FlashReadStart(read->Address + read->At);
    uint8_t piece[PIECE_BYTES];
    for (uint32_t end = read->At + budget; read->At < read->Count && read->At < end && !read->Stopped;) {
        uint32_t at = read->At;
        uint32_t n = read->Count - at < PIECE_BYTES ? read->Count - at : PIECE_BYTES;
        uint8_t* chip = read->Saved ? read->Saved + at : piece;
        if (!FlashReadBytes(chip, n))
            return false;
        for (uint32_t i = 0; i < n; ++i) {
            if (at + i >= read->ImageCount)
                read->Target[at + i] = chip[i];
            else
                read->Sum += chip[i];
            read->Equal = read->Equal && chip[i] == read->Target[at + i];
            read->Blank = read->Blank && chip[i] == 0xFF;
        }
        read->At = at + n;
        read->Stopped = !read->Equal && !read->Blank && !read->Whole && read->At < read->Count;
    }
    FlashReadEnd();
    return !EcChannelDead();
}

// Reads the chip over one block's share of the covered range (the image's
// block is in RunState.Block) and fills in its sectors, each in steps of at
// most `step` bytes. False when the channel died.
bool ReadBlock(const UpdateScan& scan, int32_t block, uint32_t step, Progress* progress)
{
    SectorPlan* row = scan.Sectors + block * SECTORS_IN_BLOCK;
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
        SectorRead read = {RunState.Block + static_cast<uint32_t>(i) * SECTOR_BYTES,
                           scan.Backup ? scan.Backup + address : nullptr,
                           address,
                           imageCount,
                           count,
                           sector.Kept || scan.Backup != nullptr || imageCount < count,
                           0,
                           true,
                           true,
                           false,
                           0};
        while (!read.Finished()) {
            uint32_t from = read.At;
            if (!ReadSectorStep(&read, step))
                return false;
            ProgressAdd(progress, (read.Stopped ? count : read.At) - from);
        }
        sector.Found = read.Equal ? SectorFound::Equal : read.Blank ? SectorFound::Erased : SectorFound::Differs;
        sector.ChipSum = read.Sum;
        sector.Pieces = PiecesToProgram(read.Target, count);
    }
    return true;
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
    Print(u"\n\r");
    Progress progress;
    ProgressBegin(&progress, u"Reading...       : ", scan.Range.CoverEnd);
    uint32_t step = ProgressStep(scan.Range.CoverEnd, PIECE_BYTES);
    for (int32_t block = 0;; ++block) {
        if (!ReadNextBlock())
            break;
        if (!ReadBlock(scan, block, step, &progress)) {
            ProgressEnd(&progress);
            return PassResult::NoAnswer;
        }
        IgnoreBreak();
        if (block == scan.Blocks - 1)
            MemCopy(scan.Tail, RunState.Block + TailStart(scan), TailBytes(scan));
    }
    ProgressEnd(&progress);
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
    int32_t differing = ReadChipPass(u"Reading again... : ", RunStage::ReadPass2, nullptr, scan.Backup,
                                     scan.Range.CoverEnd, first);
    if (differing == 0)
        Print(u" -- Same. \n");
    else if (differing > 0)
        Print(u" -- Differ. \n");
    return differing;
}

}  // namespace zar
