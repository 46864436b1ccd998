// zar [/log FILE] [/backup FILE] [/keep START-END]... /update IMAGE [p] [ARG3] [/j]:
// the chip is read over the image's range and the rest of the erase unit it
// ends in, and compared sector by sector; the plan is printed, the old
// content read a second time and saved when asked; then only the sectors
// that differ are erased (a whole block at once where the part can),
// programmed where the target is not 0xFF (the image, then past its end the
// chip's own bytes), and read back. The module check and statuses are the
// classic run's; "/j" as the last word closes with 0xFC, as for /verify;
// whether the EC is closed at all is the closing rule's (HandBack.h).
#include "Applications/Main/Banner.h"
#include "Applications/Main/BlockSequence.h"
#include "Applications/Main/ChipGuards.h"
#include "Applications/Main/FailureNote.h"
#include "Applications/Main/HandBack.h"
#include "Applications/Main/ImageBlocks.h"
#include "Applications/Main/Main.h"
#include "Applications/Main/Progress.h"
#include "Applications/Main/Protection.h"
#include "Applications/Main/Rerun.h"
#include "Applications/Main/RunState.h"
#include "Applications/Main/UpdateOptions.h"
#include "Applications/Main/UpdatePlan.h"
#include "Applications/Main/UpdateRead.h"
#include "Applications/Main/UpdateWrite.h"
#include "Applications/Main/UserBreak.h"
#include "Applications/Main/VerbSteps.h"
#include "Applications/Main/Verbs.h"
#include "ec/EcChannel.h"
#include "flash/FlashPrimitives.h"
#include "flash/PartTable.h"
#include "flash/SpiOpcodes.h"
#include "platform/Machine.h"
#include "platform/Platform.h"

namespace zar {
namespace {

constexpr const char16_t* USAGE = u"zar [/log FILE] [/backup FILE] [/keep START-END]... /update IMAGE [p] [ARG3] [/j]";

struct Update {
    UpdateScan Scan;
    bool* BlockErase;     // per block
    NewFile* BackupFile;  // "/backup FILE", claimed before the EC is touched
};

// 0xFC after a last word "/j", as /verify closes; otherwise the classic
// rule on the other words: none when "p" (or another word) and ARG3 are both
// there.
uint8_t UpdateClosingCommand(const Arguments& args)
{
    int words = WordsBeforeAltExit(args);
    if (words < args.Count())
        return EC_CMD_FOLLOW_EXIT_ALT;
    return words > ARG_THIRD ? 0 : EC_CMD_FOLLOW_EXIT;
}

void PrintPlan(const PlanTotals& plan)
{
    Print(u"Plan             : %d of %d sectors to write, %d equal, %d kept; %d bytes to program\n", plan.ToWrite,
          plan.Sectors, plan.Equal, plan.Kept, plan.ProgramBytes);
    Print(u"Erases           : %d of 64 KiB (0xD8), %d of 4 KiB (0x20)\n", plan.BlockErases, plan.SectorErases);
    if (plan.CarriedBytes != 0)
        Print(u"Past the image   : %d bytes in the erased units, written back as they were\n", plan.CarriedBytes);
}

EraseUnits PartEraseUnits()
{
    return EraseUnitsOf(RunState.Chip);
}

// value in upper-case hex at out + at; returns where it ends.
int PutHex(char* out, int at, uint32_t value)
{
    char digits[8];
    int count = 0;
    do {
        digits[count++] = "0123456789ABCDEF"[value & 0xF];
        value >>= 4;
    } while (value != 0);
    while (count > 0)
        out[at++] = digits[--count];
    return at;
}

// "START-END", as the user types a range.
void FormatRange(char (&out)[24], uint32_t start, uint32_t end)
{
    int at = PutHex(out, 0, start);
    out[at++] = '-';
    out[PutHex(out, at, end)] = 0;
}

// A kept range past the chip's end is refused before anything is read. The
// command given keeps what lies on the chip: the range cut at its end, or
// left out when it starts past it.
bool KeepsFitTheChip(const UpdateOptions& options)
{
    uint32_t size = RunState.Chip.Known.Size;
    RerunChanges& change = RunState.RerunChange;
    bool fit = true;
    for (int i = 0; size != 0 && i < options.KeptCount; ++i) {
        const KeptRange& kept = options.Kept[i];
        if (kept.End < size)
            continue;
        Print(u"\n\rKEEP ERROR!! /keep %x-%x reaches past the chip's end (%x bytes). Nothing was erased or written.\n",
              kept.Start, kept.End, size);
        fit = false;
        if (kept.Start >= size) {
            change.KeepsLeftOut = static_cast<uint16_t>(change.KeepsLeftOut | 1u << i);
            change.KeepsLeftOutWhy = u"it lies past the chip's end";
        } else {
            change.KeepCut = static_cast<uint8_t>(i + 1);
            FormatRange(change.CutRange, kept.Start, size - 1);
        }
    }
    return fit;
}

// The end of a run that went past identification: the one way out, then the
// checksum line.
ExitStatus EndUpdateWith(const Arguments& args, ExitStatus status)
{
    if (status == EXIT_OK)
        NoteImageWhole();
    status = HandBackAndEnd(UpdateClosingCommand(args), status, &args, Road::Writes);
    ReleaseBlockBuffers();
    PrintChecksum();
    return status;
}

ExitStatus EndUpdate(const Arguments& args, bool allVerified)
{
    return EndUpdateWith(args, allVerified ? EXIT_OK : EXIT_FLASH_FAILED);
}

// The chip's content as the read pass found it, read again and compared,
// then into the file claimed before the EC was touched: all before anything
// is erased. EXIT_OK, or the run's end once it has said why.
ExitStatus SaveBackup(const Arguments& args, const Update& run)
{
    const uint8_t* data = run.Scan.Backup;
    uint32_t size = run.Scan.Range.CoverEnd;
    const char* name = run.BackupFile->Name;
    uint32_t first = 0;
    int32_t differing = ReadBackupAgain(run.Scan, &first);
    if (differing < 0)
        return EndUpdate(args, false);
    if (differing > 0) {
        Print(u"\n\rREAD MISMATCH!! The two reads disagree on %d byte(s), the first at %x (%02X the first time). "
              u"Nothing was erased or written, and %a was not written: run again.\n",
              differing, first, data[first], name);
        return HandBackAndEnd(UpdateClosingCommand(args), EXIT_FLASH_FAILED, &args, Road::Writes);
    }
    bool deleted = false;
    if (!WriteNewFile(run.BackupFile, data, size, &deleted)) {
        Print(u"\n\rFILE WRITE ERROR!! %a could not be written whole%s Nothing was erased or written.\n", name,
              deleted ? u"; it was deleted." : u": do not keep it.");
        RunState.RerunChange.WithoutBackup = true;
        return HandBackAndEnd(UpdateClosingCommand(args), EXIT_BAD_IMAGE, &args, Road::Writes);
    }
    RunState.Update.BackupWritten = true;
    Print(u"Backup           : %d bytes into %a\n", size, name);
    return EXIT_OK;
}

// A plan that would write into a block holding a kept range on a part that
// erases only whole blocks (KeepConflict): refused before the first write.
// The command given leaves out the /keep ranges in such blocks, and says so.
ExitStatus RefuseKeepConflict(const Arguments& args, const Update& run, EraseUnits units, int32_t block)
{
    Print(u"\n\rKEEP ERROR!! This chip erases only whole 64 KiB blocks, and block %d holds a kept range beside "
          u"sectors to write: a cut while it is written would leave it for its erase to finish, and the erase takes "
          u"the kept bytes. Nothing was erased or written.\n",
          block);
    const UpdateOptions& options = *run.Scan.Options;
    RerunChanges& change = RunState.RerunChange;
    for (int32_t b = 0; b < run.Scan.Blocks; ++b) {
        if (!KeepConflict(run.Scan.Sectors + b * SECTORS_IN_BLOCK, units))
            continue;
        uint32_t start = static_cast<uint32_t>(b) * static_cast<uint32_t>(BLOCK_SIZE);
        for (int i = 0; i < options.KeptCount; ++i) {
            if (options.Kept[i].Start < start + BLOCK_SIZE && options.Kept[i].End >= start)
                change.KeepsLeftOut = static_cast<uint16_t>(change.KeepsLeftOut | 1u << i);
        }
    }
    change.KeepsLeftOutWhy = u"its block is then erased whole and takes the image's bytes there";
    return HandBackAndEnd(UpdateClosingCommand(args), EXIT_BAD_IMAGE, &args, Road::Writes);
}

// The chip's bytes that stay as they are go into the checksum now; the
// verify adds the rest.
void SumWhatStays(const Update& run)
{
    for (int32_t i = 0; i < run.Scan.Blocks * SECTORS_IN_BLOCK; ++i) {
        const SectorPlan& sector = run.Scan.Sectors[i];
        if (sector.Action == SectorAction::Leave || sector.Action == SectorAction::Keep)
            RunState.Checksum += sector.ChipSum;
    }
}

// Whether a kept sector holds something other than the image.
bool KeptSectorsDiffer(const Update& run)
{
    for (int32_t i = 0; i < run.Scan.Blocks * SECTORS_IN_BLOCK; ++i) {
        const SectorPlan& sector = run.Scan.Sectors[i];
        if (sector.Kept && sector.Found != SectorFound::Equal && sector.Found != SectorFound::Outside)
            return true;
    }
    return false;
}

// The bytes of the sectors the plan writes in `blocks` blocks from row on.
uint32_t BytesToWrite(const SectorPlan* row, int32_t blocks)
{
    uint32_t bytes = 0;
    for (int32_t i = 0; i < blocks * SECTORS_IN_BLOCK; ++i) {
        SectorAction action = row[i].Action;
        bytes += action == SectorAction::Write || action == SectorAction::EraseWrite ? SECTOR_BYTES : 0;
    }
    return bytes;
}

// The blocks, as the plan says; the progress line, in the bytes of the
// sectors written, moves between them. Whether each block verified.
bool WriteBlocks(const Update& run)
{
    Progress progress;
    ProgressBegin(&progress, u"Writing...       : ", BytesToWrite(run.Scan.Sectors, run.Scan.Blocks));
    bool allVerified = true;
    for (int32_t block = 0; block < run.Scan.Blocks && !EcChannelDead(); ++block) {
        if (!ReadNextBlock())
            break;  // never before the plan's last block: the image is in memory
        IgnoreBreak();
        PutTailBack(run.Scan, block);
        const SectorPlan* row = run.Scan.Sectors + block * SECTORS_IN_BLOCK;
        ProgressClear(&progress);
        BlockWork work = WriteBlock(block, row, run.BlockErase[block], run.Scan.Range, &RunState.Update);
        if (work == BlockWork::None) {
            ++RunState.BlocksUnchanged;
        } else if (work == BlockWork::Verified) {
            ++RunState.BlocksWritten;
        } else {
            ++RunState.BlocksFailed;
            allVerified = false;
        }
        ProgressAdd(&progress, BytesToWrite(row, 1));
    }
    if (EcChannelDead()) {
        ProgressClear(&progress);  // the block's lines say how far it came
    } else {
        ProgressEnd(&progress);
        Print(u"\n");
    }
    return allVerified;
}

// The second pass, once the unprotect showed the chip can be erased. The
// run's status.
ExitStatus WritePass(const Update& run)
{
    RewindImage();
    uint8_t status = FlashUnprotect(RunState.Chip);
    if (!EcChannelDead() && !ProtectionCleared(status))
        return EXIT_WRITE_PROTECTED;
    return WriteBlocks(run) ? EXIT_OK : EXIT_FLASH_FAILED;
}

ExitStatus RunPlanned(const Arguments& args, Update* run)
{
    PassResult read = ReadPass(run->Scan);
    if (read == PassResult::NoAnswer)
        return EndUpdate(args, false);
    if (run->Scan.Backup) {
        if (ExitStatus status = SaveBackup(args, *run); status != EXIT_OK)
            return status;
    }

    EraseUnits units = PartEraseUnits();
    PlanTotals plan = PlanUpdate(run->Scan.Sectors, run->Scan.Blocks, units, run->Scan.Range, run->BlockErase);
    RunState.Update.SectorsEqual = plan.Equal;
    RunState.Update.SectorsKept = plan.Kept;
    if (plan.KeepConflictBlock >= 0)
        return RefuseKeepConflict(args, *run, units, plan.KeepConflictBlock);
    PrintPlan(plan);
    SumWhatStays(*run);
    if (plan.ToWrite == 0) {
        RunState.BlocksUnchanged = run->Scan.Blocks;
        if (KeptSectorsDiffer(*run))
            Print(u"\n\rThe EC is already up to date outside the kept ranges: every other sector equals the image. "
                  u"Nothing was written.\n");
        else
            Print(u"\n\rThe EC is already up to date: every block equals the image. Nothing was written.\n");
        return EndUpdate(args, true);
    }
    return EndUpdateWith(args, WritePass(*run));
}

// From follow mode on: the chip, the refusals, the plan and the writes.
ExitStatus RunEntered(const Arguments& args, Update* run)
{
    uint8_t closing = UpdateClosingCommand(args);
    if (!ReadyForFollowMode())
        return EXIT_STOPPED;
    EnterFollowMode();
    if (!EcChannelDead())
        RunState.Chip = FlashIdentify();
    if (EcChannelDead())
        return EndUpdate(args, false);
    if (ExitStatus refused = GuardChip(RunState.ImageSize, closing, args, Road::Writes); refused != EXIT_OK)
        return refused;
    if (!KeepsFitTheChip(*run->Scan.Options))
        return HandBackAndEnd(closing, EXIT_BAD_IMAGE, &args, Road::Writes);
    FlashReportIdentity(RunState.Chip);
    if (!PartWritableWith(UpdateEraseOpcode(PartEraseUnits()), false))
        return HandBackAndEnd(closing, EXIT_WRITE_PROTECTED, &args, Road::Writes);
    auto size = static_cast<uint32_t>(RunState.ImageSize);
    run->Scan.Range = {size, CoverEnd(size, PartEraseUnits())};
    return RunPlanned(args, run);
}

// From the banner on, with "/backup FILE" claimed when given. Every buffer
// is taken before follow mode: the backup's for whole blocks, the most the
// covered range can be.
ExitStatus RunClaimed(const Arguments& args, const UpdateOptions& options, NewFile* backup)
{
    ClearScreen();
    PrintBanner();
    if (!AllocateRunBuffers())
        return EXIT_BAD_IMAGE;
    Update run = {{&options, nullptr, 0, {}, nullptr, nullptr}, nullptr, backup};
    UpdateScan& scan = run.Scan;
    scan.Blocks = (RunState.ImageSize + static_cast<int32_t>(BLOCK_SIZE) - 1) / static_cast<int32_t>(BLOCK_SIZE);
    auto blocks = static_cast<size_t>(scan.Blocks);
    scan.Sectors = static_cast<SectorPlan*>(MemAlloc(sizeof(SectorPlan) * blocks * SECTORS_IN_BLOCK));
    scan.Tail = static_cast<uint8_t*>(MemAlloc(BLOCK_SIZE));
    run.BlockErase = static_cast<bool*>(MemAlloc(sizeof(bool) * blocks));
    if (options.Backup)
        scan.Backup = static_cast<uint8_t*>(MemAlloc(blocks * BLOCK_SIZE));
    ExitStatus status = EXIT_OK;
    if (scan.Sectors == nullptr || scan.Tail == nullptr || run.BlockErase == nullptr ||
        (options.Backup && scan.Backup == nullptr)) {
        Print(u"\nOUT OF MEMORY!! No room for the update's plan.\n");
        RunState.OutOfMemory = true;
        status = EXIT_BAD_IMAGE;
    } else {
        status = RunEntered(args, &run);
    }
    MemFree(scan.Sectors);
    MemFree(scan.Tail);
    MemFree(run.BlockErase);
    MemFree(scan.Backup);
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
