#include "Applications/Main/BlockSequence.h"

#include "Applications/Main/Banner.h"
#include "Applications/Main/ChipGuards.h"
#include "Applications/Main/FailureNote.h"
#include "Applications/Main/HandBack.h"
#include "Applications/Main/ImageBlocks.h"
#include "Applications/Main/Main.h"
#include "Applications/Main/ModuleCheck.h"
#include "Applications/Main/Protection.h"
#include "Applications/Main/Rerun.h"
#include "Applications/Main/RunState.h"
#include "Applications/Main/UserBreak.h"
#include "ec/EcChannel.h"
#include "flash/FlashErase.h"
#include "flash/FlashPrimitives.h"
#include "flash/FlashProgram.h"
#include "flash/FlashVerify.h"
#include "flash/PartTable.h"
#include "flash/SpiOpcodes.h"
#include "platform/Platform.h"

namespace zar {
namespace {

// AAI and chunked programming send the whole block, the 0xFF past the
// image's end included; page programs stop at the image's end.
FlashResult ProgramBlock(uint32_t start, int32_t imageBytes)
{
    constexpr auto WHOLE = static_cast<uint32_t>(BLOCK_SIZE);
    const FlashChip& chip = RunState.Chip;
    switch (ProgramMethodOf(chip)) {
    case ProgramMethod::AaiByte:
        return FlashProgramAaiByte(chip, start, RunState.Block, WHOLE);
    case ProgramMethod::AaiWord:
        return FlashProgramAaiWord(chip, start, RunState.Block, WHOLE);
    case ProgramMethod::Chunked:
        return FlashProgramChunked(chip, start, RunState.Block, WHOLE);
    case ProgramMethod::Pages:
        break;
    }
    return FlashProgramPages(chip, start, RunState.Block, static_cast<uint32_t>(imageBytes));
}

// The erase stops at the image's end counted in whole KiB when that is the
// end of a 4 KiB step; otherwise nothing stops it before the block's end.
uint32_t EraseLength(int32_t imageBytes)
{
    int32_t kib = (imageBytes + 1023) / 1024;
    return static_cast<uint32_t>(kib % 4 == 0 ? kib * 1024 : static_cast<int32_t>(BLOCK_SIZE));
}

void RedrawScreen()
{
    ClearScreen();
    SetCursorPosition(0, 0);
    PrintBanner();
    SetCursorPosition(1, 3);
}

enum class BlockResult { Verified, Failed, NoAnswer, Protected };

// The first of the block's steps that did not finish, for the run's end:
// each step runs even after the one before it lost the EC, so the first
// one that says so is where the wait ran out.
void NoteEraseFailure(uint8_t block, bool unprotected, const FlashResult& erase, const FlashResult& blank)
{
    uint32_t start = static_cast<uint32_t>(block * BLOCK_SIZE);
    if (!unprotected)
        NoteFailedStep(FailedStep::Unprotect, block, true);
    else if (erase.Outcome != FlashOutcome::Done)
        NoteFailure(FailedStep::Erase, block, erase);
    else
        NoteFailure(FailedStep::BlankCheck, block, blank, start + blank.Bytes, 0xFF);
}

void NoteProgramFailure(uint8_t block, const FlashResult& program, const FlashResult& verify)
{
    uint32_t start = static_cast<uint32_t>(block * BLOCK_SIZE);
    uint32_t at = verify.Bytes > 0 ? verify.Bytes - 1 : 0;
    if (program.Outcome != FlashOutcome::Done)
        NoteFailure(FailedStep::Program, block, program);
    else
        NoteFailure(FailedStep::Verify, block, verify, start + at, RunState.Block[at]);
}

BlockResult FlashOneBlock(uint8_t block)
{
    auto start = static_cast<uint32_t>(block * BLOCK_SIZE);
    int32_t imageBytes = ImageBytesInBlock(block);
    RunState.ProgrammedBytes = static_cast<int32_t>(start);
    RunState.VerifiedBytes = static_cast<int32_t>(start);
    if (RunState.BlockCounter > 1)
        RedrawScreen();
    FlashReportIdentity(RunState.Chip);
    Print(u"\nBlock Number     : %d \n\n", RunState.BlockCounter - 1);
    IgnoreBreak();

    // Each step runs even after the one before lost the EC: it then sends
    // nothing, but its heading is printed all the same. The status the
    // first unprotect leaves shows whether the chip can be erased at all.
    uint8_t status = FlashUnprotect(RunState.Chip);
    bool unprotected = !EcChannelDead();
    if (RunState.BlockCounter == 1 && unprotected && !ProtectionCleared(status))
        return BlockResult::Protected;
    FlashResult erase = FlashErase(RunState.Chip, start, EraseLength(imageBytes));
    FlashResult blank = FlashBlankCheck(start, static_cast<uint32_t>(imageBytes));
    if (EcChannelDead() || erase.Outcome != FlashOutcome::Done || blank.Outcome != FlashOutcome::Done) {
        NoteEraseFailure(block, unprotected, erase, blank);
        // Not programmed, not verified, not tried again.
        return EcChannelDead() ? BlockResult::NoAnswer : BlockResult::Failed;
    }

    FlashResult program = ProgramBlock(start, imageBytes);
    FlashResult verify = FlashVerify(start, RunState.Block, static_cast<uint32_t>(imageBytes));
    auto programmed = static_cast<int32_t>(program.Bytes);
    RunState.ProgrammedBytes += programmed < imageBytes ? programmed : imageBytes;
    RunState.VerifiedBytes += static_cast<int32_t>(verify.Bytes);
    RunState.Checksum += verify.Sum;
    if (EcChannelDead() || program.Outcome != FlashOutcome::Done || verify.Outcome != FlashOutcome::Done) {
        NoteProgramFailure(block, program, verify);
        return EcChannelDead() ? BlockResult::NoAnswer : BlockResult::Failed;
    }
    return BlockResult::Verified;
}

// False when the walk must stop: the chip is protected.
bool CountBlock(BlockResult result)
{
    switch (result) {
    case BlockResult::Verified:
        ++RunState.BlocksWritten;
        break;
    case BlockResult::Failed:
    case BlockResult::NoAnswer:
        ++RunState.BlocksFailed;  // skipped: the run goes on with the next block
        break;
    case BlockResult::Protected:
        return false;
    }
    return true;
}

bool WriteBlock(uint8_t block)
{
    return CountBlock(FlashOneBlock(block));
}

// On a chip whose size is unknown an image larger than the chip wraps around
// its addresses: a later block overwrites block 0, and still verifies. Block 0
// is read back once more after the last block and compared with the image's
// first block. Chips of known size never get here: the guard refused an image
// too large for them. False when block 0 differs or the EC stopped answering.
bool FirstBlockStillHoldsTheImage()
{
    if (RunState.Chip.Known.Size != 0 || RunState.BlockCounter < 2 || RunState.BlocksWritten == 0)
        return true;
    CopyImageBlock(0);  // two blocks or more: the image's first block is whole
    Print(u"\n\rBlock 0 again    : the chip's size is unknown; a larger image would have wrapped onto block 0.\n");
    // Read as a verify reads it; its sum is already in the run's checksum.
    MarkPlace(RunStage::Blocks, 1);  // a wait that runs out here is at block 0
    FlashResult verify = FlashVerify(0, RunState.Block, static_cast<uint32_t>(BLOCK_SIZE));
    bool same = verify.Outcome == FlashOutcome::Done;
    if (!same && !EcChannelDead())
        Print(u"\n\rBLOCK 0 OVERWRITTEN!! The image is larger than the chip: its addresses wrapped.\n");
    if (!same || EcChannelDead())
        NoteProgramFailure(0, {FlashOutcome::Done, 0, 0}, verify);
    return same && !EcChannelDead();
}

// The chip guards, then a part this command can't write: each ends the run
// before anything is erased. EXIT_OK when the blocks may begin.
ExitStatus RefuseChip(const Arguments& args)
{
    uint8_t closing = ClassicClosingCommand(args);
    if (ExitStatus refused = GuardChip(RunState.ImageSize, closing, args, Road::Writes); refused != EXIT_OK)
        return refused;
    if (PartFitFor(RunState.Chip, EraseStepOpcode(RunState.Chip)) == PartFit::Writable)
        return EXIT_OK;
    FlashReportIdentity(RunState.Chip);
    if (PartWritableWith(EraseStepOpcode(RunState.Chip), true))
        return EXIT_OK;
    return HandBackAndEnd(closing, EXIT_WRITE_PROTECTED, &args, Road::Writes);
}

}  // namespace

void PrintChecksum()
{
    Print(u"\n\rCurrent F/W Checksum : %04X\n", RunState.Checksum);
}

uint8_t ClassicClosingCommand(const Arguments& args)
{
    const char* alt = args.At(ARG_ALT_EXIT);
    if (alt && alt[0] == '/' && alt[1] == 'j')
        return EC_CMD_FOLLOW_EXIT_ALT;
    if (!args.Has(ARG_SKIP_CHECK) || !args.Has(ARG_THIRD))
        return EC_CMD_FOLLOW_EXIT;
    return 0;  // "p" and ARG3 without "/j": the EC stays in follow mode
}

ExitStatus PrepareImage(const Arguments& args)
{
    int32_t size = MeasureImage(RunState.ImageFile);
    if (CheckImageSize(size) != ImageProblem::None)
        return EXIT_BAD_IMAGE;
    // Every byte in memory, every read error found, before the EC is asked
    // anything: the module check's name comes from there too.
    if (ReadWholeImage(size) != ImageProblem::None)
        return EXIT_BAD_IMAGE;
    switch (CheckModuleIdentity(args, size)) {
    case ModuleCheckResult::Mismatch:
        return EXIT_MODULE_MISMATCH;
    case ModuleCheckResult::NoAnswer:
        ReportWaitFault();
        AdviseRerunAfterModuleCheck(args);
        return EXIT_NO_ANSWER;
    case ModuleCheckResult::Passed:
        break;
    }
    SetUpImage(size);
    return EXIT_OK;
}

ExitStatus OpenAndPrepareImage(const Arguments& args)
{
    if (!OpenImage(args.At(ARG_IMAGE)))
        return EXIT_BAD_IMAGE;
    return PrepareImage(args);
}

ExitStatus FlashImageBlocks(const Arguments& args)
{
    // 1. A fresh screen.
    ClearScreen();
    PrintBanner();

    // 2. Buffers before follow mode: nothing later can run out of memory.
    if (!AllocateRunBuffers())
        return EXIT_BAD_IMAGE;

    // 3. Follow mode and the chip: one that is missing, or too small for
    //    the image, ends the run before anything is erased.
    if (!ReadyForFollowMode())
        return EXIT_STOPPED;
    EnterFollowMode();
    if (!EcChannelDead())
        RunState.Chip = FlashIdentify();
    if (!EcChannelDead()) {
        if (ExitStatus refused = RefuseChip(args); refused != EXIT_OK) {
            ReleaseBlockBuffers();
            return refused;
        }
    }

    // 4. The blocks. A block that fails is skipped, the run goes on; a chip
    //    that keeps its protection stops it before the first erase.
    WalkImageBlocks(WriteBlock);
    if (RunState.BlocksFailed == 0 && !EcChannelDead() && !ProtectionHeld() &&
        !FirstBlockStillHoldsTheImage())
        ++RunState.BlocksFailed;

    // 5. Close only after a fully good run; otherwise the EC stays in follow
    //    mode, where another run can still rewrite it.
    ExitStatus status = RunState.BlocksFailed == 0 ? EXIT_OK : EXIT_FLASH_FAILED;
    if (ProtectionHeld())
        status = EXIT_WRITE_PROTECTED;
    if (status == EXIT_OK)
        NoteImageWhole();  // every block read back equal to the image
    status = HandBackAndEnd(ClassicClosingCommand(args), status, &args, Road::Writes);

    ReleaseBlockBuffers();
    PrintChecksum();
    return status;
}

}  // namespace zar
