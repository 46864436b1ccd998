#include "Applications/Main/UpdateWrite.h"

#include "Applications/Main/FailureNote.h"
#include "Applications/Main/RunState.h"
#include "ec/EcChannel.h"
#include "flash/FlashErase.h"
#include "flash/FlashPrimitives.h"
#include "flash/FlashProgram.h"
#include "flash/FlashVerify.h"
#include "platform/Platform.h"

namespace zar {
namespace {

constexpr int32_t PIECES_IN_BLOCK = SECTORS_IN_BLOCK * PIECES_IN_SECTOR;

bool Written(const SectorPlan& sector)
{
    return sector.Action == SectorAction::Write || sector.Action == SectorAction::EraseWrite;
}

uint32_t BlockStart(int32_t block)
{
    return static_cast<uint32_t>(block) * static_cast<uint32_t>(BLOCK_SIZE);
}

// Block offset where end falls: 0 before the block, BLOCK_SIZE past it.
uint32_t InBlock(uint32_t end, int32_t block)
{
    uint32_t rest = end > BlockStart(block) ? end - BlockStart(block) : 0;
    return rest < static_cast<uint32_t>(BLOCK_SIZE) ? rest : static_cast<uint32_t>(BLOCK_SIZE);
}

// A run of sectors (or pieces) in the block: [First, End), in units.
struct Run {
    int32_t First;
    int32_t End;
};

// The next run from `from` on of units for which `member` holds; End is 0
// when there is none.
template <typename Member>
Run NextRun(int32_t from, int32_t units, Member member)
{
    while (from < units && !member(from))
        ++from;
    int32_t end = from;
    while (end < units && member(end))
        ++end;
    return {from, end > from ? end : 0};
}

bool Good(const FlashResult& result)
{
    return result.Outcome == FlashOutcome::Done;
}

// Good, or noted as the block's failed step for the run's end.
bool Done(FailedStep step, int32_t block, const FlashResult& result)
{
    if (!Good(result))
        NoteFailure(step, block, result);
    return Good(result);
}

// One block erase, or a 4 KiB erase of each sector that needs one (a run of
// neighbours in one call).
bool Erase(int32_t block, const SectorPlan* row, bool eraseWhole)
{
    const FlashChip& chip = RunState.Chip;
    if (eraseWhole)
        return Done(FailedStep::Erase, block, FlashEraseBlock(chip, BlockStart(block)));
    auto erased = [row](int32_t i) { return row[i].Action == SectorAction::EraseWrite; };
    for (Run run = NextRun(0, SECTORS_IN_BLOCK, erased); run.End != 0;
         run = NextRun(run.End, SECTORS_IN_BLOCK, erased)) {
        uint32_t address = BlockStart(block) + static_cast<uint32_t>(run.First) * SECTOR_BYTES;
        if (!Done(FailedStep::Erase, block,
                  FlashErase(chip, address, static_cast<uint32_t>(run.End - run.First) * SECTOR_BYTES)))
            return false;
    }
    return true;
}

FlashResult ProgramRange(uint32_t address, const uint8_t* data, uint32_t count)
{
    const FlashChip& chip = RunState.Chip;
    switch (ProgramMethodOf(chip)) {
    case ProgramMethod::AaiByte:
        return FlashProgramAaiByte(chip, address, data, count);
    case ProgramMethod::AaiWord:  // a word at a time: the 0xFF after an odd end comes along
        return FlashProgramAaiWord(chip, address, data, count + (count & 1));
    case ProgramMethod::Chunked:
        return FlashProgramChunked(chip, address, data, count);
    case ProgramMethod::Pages:
        break;
    }
    return FlashProgramPages(chip, address, data, count);
}

// The written sectors' pieces that are not all 0xFF, each run of them in one
// program (on AAI parts, one AAI sequence), stopping at the covered range's
// end.
bool Program(int32_t block, const SectorPlan* row, PlanRange range)
{
    auto needed = [row](int32_t piece) {
        const SectorPlan& sector = row[piece / PIECES_IN_SECTOR];
        return Written(sector) && (sector.Pieces & (1u << (piece % PIECES_IN_SECTOR))) != 0;
    };
    uint32_t end = InBlock(range.CoverEnd, block);
    for (Run run = NextRun(0, PIECES_IN_BLOCK, needed); run.End != 0; run = NextRun(run.End, PIECES_IN_BLOCK, needed)) {
        uint32_t first = static_cast<uint32_t>(run.First) * PIECE_BYTES;
        uint32_t last = static_cast<uint32_t>(run.End) * PIECE_BYTES;
        if (last > end)
            last = end;
        if (!Done(FailedStep::Program, block, ProgramRange(BlockStart(block) + first, RunState.Block + first, last - first)))
            return false;
    }
    return true;
}

// Block offsets [first, last) read back in one read and compared with the
// target. Only the image's bytes go into Checksum: the run's checksum is the
// image's, the chip's bytes past it are written back as they were.
bool VerifyRange(int32_t block, uint32_t first, uint32_t last, bool summed)
{
    if (first >= last)
        return true;
    FlashResult verify = FlashVerify(BlockStart(block) + first, RunState.Block + first, last - first);
    if (summed)
        RunState.Checksum += verify.Sum;
    uint32_t at = first + (verify.Bytes > 0 ? verify.Bytes - 1 : 0);
    if (!Good(verify))
        NoteFailure(FailedStep::Verify, block, verify, BlockStart(block) + at, RunState.Block[at]);
    if (verify.Outcome == FlashOutcome::Differs) {
        if (summed)
            Print(u"\n\rVERIFY FAILED!! The byte at %x is not the image's %02X: its sector did not erase, or did"
                  u" not take its bytes.\n",
                  BlockStart(block) + at, RunState.Block[at]);
        else
            Print(u"\n\rVERIFY FAILED!! The byte at %x, past the image's end, is not the %02X it held before: its"
                  u" sector did not erase, or did not take its bytes.\n",
                  BlockStart(block) + at, RunState.Block[at]);
    }
    return Good(verify);
}

// Every written sector read back and compared with its target, each run of
// neighbours in one read (split at the image's end). A sector that did not
// erase reads back as old AND new, and fails here.
bool Verify(int32_t block, const SectorPlan* row, PlanRange range)
{
    auto written = [row](int32_t i) { return Written(row[i]); };
    uint32_t imageEnd = InBlock(range.ImageEnd, block);
    uint32_t end = InBlock(range.CoverEnd, block);
    for (Run run = NextRun(0, SECTORS_IN_BLOCK, written); run.End != 0;
         run = NextRun(run.End, SECTORS_IN_BLOCK, written)) {
        uint32_t first = static_cast<uint32_t>(run.First) * SECTOR_BYTES;
        uint32_t last = static_cast<uint32_t>(run.End) * SECTOR_BYTES;
        last = last < end ? last : end;
        uint32_t split = imageEnd < first ? first : imageEnd > last ? last : imageEnd;
        if (!VerifyRange(block, first, split, true) || !VerifyRange(block, split, last, false))
            return false;
    }
    return true;
}

// Whether the block's erases take bytes past the image's end that are not
// 0xFF: the chip's own, which only this run holds until they are written
// back and read back (the target in RunState.Block).
bool ErasesPastTheImage(int32_t block, const SectorPlan* row, bool eraseWhole, PlanRange range)
{
    uint32_t from = InBlock(range.ImageEnd, block), end = InBlock(range.CoverEnd, block);
    for (uint32_t at = from; at < end; ++at) {
        const SectorPlan& sector = row[at / SECTOR_BYTES];
        bool erased = eraseWhole ? Written(sector) : sector.Action == SectorAction::EraseWrite;
        if (erased && RunState.Block[at] != 0xFF)
            return true;
    }
    return false;
}

}  // namespace

BlockWork WriteBlock(int32_t block, const SectorPlan* row, bool eraseWhole, PlanRange range, UpdateTally* tally)
{
    int32_t written = 0, imageSectors = 0;
    for (int32_t i = 0; i < SECTORS_IN_BLOCK; ++i) {
        written += Written(row[i]) ? 1 : 0;
        bool image = BlockStart(block) + static_cast<uint32_t>(i) * SECTOR_BYTES < range.ImageEnd;
        imageSectors += Written(row[i]) && image ? 1 : 0;
    }
    if (written == 0)
        return BlockWork::None;
    Print(u"\nBlock Number     : %d \n\n", block);
    if (ErasesPastTheImage(block, row, eraseWhole, range)) {
        tally->TailAtRisk = true;
        tally->TailStart = range.ImageEnd;
        tally->TailEnd = range.CoverEnd;
    }
    if (!Erase(block, row, eraseWhole) || !Program(block, row, range))
        return BlockWork::Failed;
    tally->SectorsWritten += imageSectors;
    if (!Verify(block, row, range))
        return BlockWork::Failed;
    tally->TailAtRisk = false;
    return BlockWork::Verified;
}

}  // namespace zar
