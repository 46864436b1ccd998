// zar [/backup FILE] [/keep START-END]... /update IMAGE [p] [ARG3] [/j]:
// the chip is read over the image's range and compared sector by sector,
// the plan is printed, the old content saved when asked; then only the
// sectors that differ are erased (a whole block at once where the part can),
// programmed where the image is not 0xFF, and read back. Module check,
// closing rule and statuses are the classic run's.
#include "Applications/Main/Banner.h"
#include "Applications/Main/BlockSequence.h"
#include "Applications/Main/ChipGuards.h"
#include "Applications/Main/HandBack.h"
#include "Applications/Main/ImageBlocks.h"
#include "Applications/Main/Main.h"
#include "Applications/Main/Rerun.h"
#include "Applications/Main/RunState.h"
#include "Applications/Main/UpdateOptions.h"
#include "Applications/Main/UpdatePlan.h"
#include "Applications/Main/UpdateWrite.h"
#include "Applications/Main/UserBreak.h"
#include "Applications/Main/VerbSteps.h"
#include "Applications/Main/Verbs.h"
#include "ec/EcChannel.h"
#include "flash/FlashPrimitives.h"
#include "flash/FlashRead.h"
#include "flash/PartTable.h"
#include "flash/SpiOpcodes.h"
#include "platform/Machine.h"
#include "platform/Platform.h"
#include "platform/Uninterrupted.h"

namespace zar {
namespace {

constexpr const char16_t* USAGE = u"zar [/log FILE] [/backup FILE] [/keep START-END]... /update IMAGE [p] [ARG3] [/j]";
constexpr int32_t READ_MARKS = 16;

struct Update {
    const UpdateOptions* Options;
    SectorPlan* Sectors;  // Blocks × SECTORS_IN_BLOCK
    bool* BlockErase;     // per block
    int32_t Blocks;
    uint8_t* Backup;  // ImageSize bytes for the chip's content with "/backup", else nullptr
    NewFile* BackupFile;  // "/backup FILE", claimed before the EC is touched
};

const uint8_t* SectorImage(int32_t sector)
{
    return RunState.Block + static_cast<uint32_t>(sector) * SECTOR_BYTES;
}

uint32_t ImageBytesInSector(uint32_t address)
{
    uint32_t rest = static_cast<uint32_t>(RunState.ImageSize) - address;
    return rest < SECTOR_BYTES ? rest : SECTOR_BYTES;
}

// One sector of the open FAST_READ, compared with the image; into `saved`
// too when it is not nullptr. Unless `whole`, the read stops (*stopped) once
// the sector is known to need an erase: it differs from the image and holds
// a byte other than 0xFF. False when the channel died.
bool ReadSector(const uint8_t* image, uint32_t count, bool whole, SectorPlan* sector, uint8_t* saved, bool* stopped)
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
            sum += chip[i];
            equal = equal && chip[i] == image[at + i];
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

// Reads the chip over one block's share of the image (the image's block is in
// RunState.Block) and fills in its sectors. False when the channel died.
// Uninterrupted: a FAST_READ stays open from sector to sector.
bool ReadBlock(Update* run, int32_t block)
{
    Uninterrupted held;
    SectorPlan* row = run->Sectors + block * SECTORS_IN_BLOCK;
    bool open = false;
    for (int32_t i = 0; i < SECTORS_IN_BLOCK; ++i) {
        uint32_t address = static_cast<uint32_t>(block * SECTORS_IN_BLOCK + i) * SECTOR_BYTES;
        SectorPlan& sector = row[i];
        sector = {};
        sector.Kept = SectorKept(*run->Options, address);
        if (address >= static_cast<uint32_t>(RunState.ImageSize)) {
            sector.Found = SectorFound::Outside;
            continue;
        }
        uint32_t count = ImageBytesInSector(address);
        sector.Pieces = PiecesToProgram(SectorImage(i), count);
        MarkPlace(RunStage::PlanRead, address);
        if (!open)
            FlashReadStart(address);
        bool stopped = false;
        bool whole = sector.Kept || run->Backup != nullptr;
        uint8_t* saved = run->Backup ? run->Backup + address : nullptr;
        if (!ReadSector(SectorImage(i), count, whole, &sector, saved, &stopped))
            return false;
        open = !stopped;
        if (stopped)
            FlashReadEnd();
    }
    if (open)
        FlashReadEnd();
    return !EcChannelDead();
}

enum class PassResult { Done, ImageReadError, NoAnswer };

// The first pass: every block of the image taken from memory and read from
// the chip, the chip's bytes gathered for the backup on the way.
PassResult ReadPass(Update* run)
{
    Print(u"\n\rReading...       : ");
    int32_t marks = 0;
    for (int32_t block = 0;; ++block) {
        BlockRead read = ReadNextBlock();
        if (read == BlockRead::End)
            break;
        if (read == BlockRead::ReadError)
            return PassResult::ImageReadError;
        if (!ReadBlock(run, block))
            return PassResult::NoAnswer;
        IgnoreBreak();
        for (; marks < (block + 1) * READ_MARKS / run->Blocks; ++marks)
            Print(u"=");
    }
    Print(u" -- %d bytes. \n", RunState.ImageSize);
    return PassResult::Done;
}

void PrintPlan(const PlanTotals& plan)
{
    Print(u"Plan             : %d of %d sectors to write, %d equal, %d kept; %d bytes to program\n", plan.ToWrite,
          plan.Sectors, plan.Equal, plan.Kept, plan.ProgramBytes);
    Print(u"Erases           : %d of 64 KiB (0xD8), %d of 4 KiB (0x20)\n", plan.BlockErases, plan.SectorErases);
}

EraseUnits PartEraseUnits()
{
    const FlashPart* part = RunState.Chip.Known.Part;
    if (part == nullptr)  // as the classic run erases: ST's parts only by 64 KiB
        return RunState.Chip.Maker() == MAKER_ST ? EraseUnits{false, true} : EraseUnits{true, false};
    return {part->SectorEraseUnit == SECTOR_BYTES, part->BlockEraseUnit == BLOCK_SIZE};
}

// Refusals after identification, before anything is read: a kept range past
// the chip's end, a backup file that can't be created.
ExitStatus CheckBeforeReading(Update* run, uint8_t closing)
{
    const ChipIdentity& chip = RunState.Chip.Known;
    for (int i = 0; chip.Size != 0 && i < run->Options->KeptCount; ++i) {
        const KeptRange& kept = run->Options->Kept[i];
        if (kept.End >= chip.Size) {
            Print(u"\n\rKEEP ERROR!! /keep %x-%x reaches past the chip's end (%x bytes). Nothing was erased or "
                  u"written.\n",
                  kept.Start, kept.End, chip.Size);
            return HandBackAndEnd(closing, EXIT_BAD_IMAGE);
        }
    }
    return EXIT_OK;
}

// The chip's content as the read pass found it, into the file claimed before
// the EC was touched, before anything is erased. False, once it has said
// why, when it could not be written whole.
bool SaveBackup(NewFile* backup, const uint8_t* data, uint32_t size)
{
    bool deleted = false;
    if (!WriteNewFile(backup, data, size, &deleted)) {
        Print(u"\n\rFILE WRITE ERROR!! %a could not be written whole%s Nothing was erased or written.\n", backup->Name,
              deleted ? u"; it was deleted." : u": do not keep it.");
        return false;
    }
    RunState.Update.BackupWritten = true;
    Print(u"Backup           : %d bytes into %a\n", size, backup->Name);
    return true;
}

// The chip's bytes that stay as they are go into the checksum now; the
// verify adds the rest.
void SumWhatStays(const Update& run)
{
    for (int32_t i = 0; i < run.Blocks * SECTORS_IN_BLOCK; ++i) {
        const SectorPlan& sector = run.Sectors[i];
        if (sector.Action == SectorAction::Leave || sector.Action == SectorAction::Keep)
            RunState.Checksum += sector.ChipSum;
    }
}

void Tally(const PlanTotals& plan)
{
    RunState.Update.SectorsEqual = plan.Equal;
    RunState.Update.SectorsKept = plan.Kept;
    RunState.Update.SectorErases = plan.SectorErases;
    RunState.Update.BlockErases = plan.BlockErases;
    RunState.Update.ProgramBytes = plan.ProgramBytes;
}

// The second pass: each block with work, as the plan says.
bool WritePass(const Update& run)
{
    RewindImage();
    FlashUnprotect(RunState.Chip);
    bool allVerified = true;
    for (int32_t block = 0; block < run.Blocks && !EcChannelDead(); ++block) {
        BlockRead read = ReadNextBlock();
        if (read != BlockRead::Ready) {
            ReportImageReadError();
            return false;
        }
        IgnoreBreak();
        const SectorPlan* row = run.Sectors + block * SECTORS_IN_BLOCK;
        BlockWork work = WriteBlock(block, row, run.BlockErase[block], &RunState.Update);
        if (work == BlockWork::None) {
            ++RunState.BlocksUnchanged;
        } else if (work == BlockWork::Verified) {
            ++RunState.BlocksWritten;
        } else {
            ++RunState.BlocksFailed;
            allVerified = false;
        }
    }
    return allVerified;
}

// The end of a run that went past identification: the one way out, then the
// checksum line.
ExitStatus EndUpdate(const Arguments& args, bool allVerified)
{
    ExitStatus status =
        HandBackAndEnd(ClassicClosingCommand(args), allVerified ? EXIT_OK : EXIT_FLASH_FAILED, &args,
                       Road::Writes);
    ReleaseBlockBuffers();
    PrintChecksum();
    return status;
}

ExitStatus RunPlanned(const Arguments& args, Update* run)
{
    PassResult read = ReadPass(run);
    if (read == PassResult::NoAnswer)
        return EndUpdate(args, false);
    if (read == PassResult::ImageReadError) {
        ReportImageReadError();
        return EndUpdate(args, false);
    }
    auto size = static_cast<uint32_t>(RunState.ImageSize);
    if (run->Backup && !SaveBackup(run->BackupFile, run->Backup, size))
        return HandBackAndEnd(ClassicClosingCommand(args), EXIT_BAD_IMAGE);

    PlanTotals plan = PlanUpdate(run->Sectors, run->Blocks, PartEraseUnits(), RunState.ImageSize, run->BlockErase);
    Tally(plan);
    if (plan.KeepConflictBlock >= 0) {
        Print(u"\n\rKEEP ERROR!! This chip erases only whole 64 KiB blocks, and block %d must be erased with a kept "
              u"range in it. Nothing was erased or written.\n",
              plan.KeepConflictBlock);
        return HandBackAndEnd(ClassicClosingCommand(args), EXIT_BAD_IMAGE);
    }
    PrintPlan(plan);
    SumWhatStays(*run);
    if (plan.ToWrite == 0) {
        RunState.BlocksUnchanged = run->Blocks;
        Print(u"\n\rThe EC is already up to date: every block equals the image. Nothing was written.\n");
        return EndUpdate(args, true);
    }
    return EndUpdate(args, WritePass(*run));
}

// From follow mode on: the chip, the refusals, the plan and the writes.
ExitStatus RunEntered(const Arguments& args, Update* run)
{
    uint8_t closing = ClassicClosingCommand(args);
    if (!ReadyForFollowMode())
        return EXIT_STOPPED;
    EnterFollowMode();
    if (!EcChannelDead())
        RunState.Chip = FlashIdentify();
    if (EcChannelDead())
        return EndUpdate(args, false);
    if (ExitStatus refused = GuardChip(RunState.ImageSize, closing); refused != EXIT_OK)
        return refused;
    if (ExitStatus refused = CheckBeforeReading(run, closing); refused != EXIT_OK)
        return refused;
    FlashReportIdentity(RunState.Chip);
    return RunPlanned(args, run);
}

// From the banner on, with "/backup FILE" claimed when given.
ExitStatus RunClaimed(const Arguments& args, const UpdateOptions& options, NewFile* backup)
{
    ClearScreen();
    PrintBanner();
    if (!AllocateRunBuffers())
        return EXIT_BAD_IMAGE;
    Update run = {&options, nullptr, nullptr, 0, nullptr, backup};
    run.Blocks = (RunState.ImageSize + static_cast<int32_t>(BLOCK_SIZE) - 1) / static_cast<int32_t>(BLOCK_SIZE);
    auto blocks = static_cast<size_t>(run.Blocks);
    run.Sectors = static_cast<SectorPlan*>(MemAlloc(sizeof(SectorPlan) * blocks * SECTORS_IN_BLOCK));
    run.BlockErase = static_cast<bool*>(MemAlloc(sizeof(bool) * blocks));
    if (options.Backup)
        run.Backup = static_cast<uint8_t*>(MemAlloc(static_cast<size_t>(RunState.ImageSize)));
    ExitStatus status = EXIT_OK;
    if (run.Sectors == nullptr || run.BlockErase == nullptr || (options.Backup && run.Backup == nullptr)) {
        Print(u"\nOUT OF MEMORY!! No room for the update's plan.\n");
        RunState.OutOfMemory = true;
        status = EXIT_BAD_IMAGE;
    } else {
        status = RunEntered(args, &run);
    }
    MemFree(run.Sectors);
    MemFree(run.BlockErase);
    MemFree(run.Backup);
    ReleaseBlockBuffers();
    return status;
}

}  // namespace

ExitStatus RunUpdateWith(const Arguments& args, const UpdateOptions& options)
{
    MemSet(&RunState.Update, 0, sizeof RunState.Update);
    if (!args.Has(ARG_IMAGE) || args.First(ARG_IMAGE) == '/')
        return RefuseCommandLine(USAGE);
    NewFile backup = {};
    // Created new before the EC is touched: an existing file is never replaced.
    if (options.Backup && !ClaimNewFile(&backup, options.Backup, u"/backup"))
        return EXIT_BAD_IMAGE;
    RunState.Update.Active = true;
    ExitStatus status = OpenAndPrepareImage(args);
    if (status == EXIT_OK)
        status = RunClaimed(args, options, &backup);
    DiscardNewFile(&backup);  // kept only when written whole: a run cut short leaves no file to block its rerun
    return status;
}

ExitStatus RunUpdate(const Arguments& args)
{
    UpdateOptions none = {};
    return RunUpdateWith(args, none);
}

ExitStatus RefuseUpdateLine()
{
    return RefuseCommandLine(USAGE);
}

}  // namespace zar
