// zar /verify IMAGE [p] [/j]: does the chip hold the image? The module check
// (unless "p"), then the chip read over the image's length and compared
// block by block. Nothing is written.
#include "Applications/Main/Banner.h"
#include "Applications/Main/BlockSequence.h"
#include "Applications/Main/ChipGuards.h"
#include "Applications/Main/ImageBlocks.h"
#include "Applications/Main/Main.h"
#include "Applications/Main/Progress.h"
#include "Applications/Main/RunState.h"
#include "Applications/Main/UserBreak.h"
#include "Applications/Main/VerbSteps.h"
#include "Applications/Main/Verbs.h"
#include "ec/EcChannel.h"
#include "flash/FlashPrimitives.h"
#include "flash/FlashRead.h"
#include "flash/FlashText.h"
#include "platform/Platform.h"

namespace zar {
namespace {

constexpr uint32_t MARK_BYTES = 0x1000;  // a mark for every 4 KiB compared, as the verify's line has it

Progress gProgress;
uint32_t gStep;

// The block compared in steps (one FAST_READ each, the progress line moving
// between them), added up as one comparison.
FlashComparison CompareInSteps(int32_t start, int32_t count)
{
    FlashComparison whole = {0, 0, -1, 0, false};
    auto step = static_cast<int32_t>(gStep);
    for (int32_t at = 0; at < count && !whole.NoAnswer; at += step) {
        int32_t n = count - at < step ? count - at : step;
        FlashComparison part = FlashCompare(static_cast<uint32_t>(start + at), RunState.Block + at, n, false);
        if (whole.Differing == 0 && part.Differing != 0)
            whole.FirstDifference = at + part.FirstDifference;
        whole.Compared += part.Compared;
        whole.Differing += part.Differing;
        whole.Sum += part.Sum;
        whole.NoAnswer = part.NoAnswer;
        if (!part.NoAnswer)
            ProgressAdd(&gProgress, static_cast<uint32_t>(n));
    }
    return whole;
}

// Equal blocks count as unchanged, differing ones as failed; one the EC
// stopped answering in counts as neither. Every block is compared. Its line
// is printed whole once it is compared, the progress line taken off first.
bool CompareBlock(uint8_t block)
{
    int32_t start = block * static_cast<int32_t>(BLOCK_SIZE);
    int32_t count = ImageBytesInBlock(block);
    IgnoreBreak();
    FlashComparison chip = CompareInSteps(start, count);
    ProgressClear(&gProgress);
    Print(u"Block %-11d: ", block);
    PrintMarks((static_cast<uint32_t>(chip.Compared) + MARK_BYTES - 1) / MARK_BYTES);
    if (chip.NoAnswer)
        return true;
    RunState.Checksum += chip.Sum;
    RunState.VerifiedBytes = start + count;
    if (chip.Differing == 0) {
        Print(u" -- Equal. \n");
        ++RunState.BlocksUnchanged;
        return true;
    }
    Print(u" -- %d byte(s) differ, the first at %x. \n", chip.Differing, start + chip.FirstDifference);
    ++RunState.BlocksFailed;
    return true;
}

}  // namespace

ExitStatus RunVerify(const Arguments& args)
{
    int words = WordsBeforeAltExit(args);
    if (words < 2 || words > 3 || args.First(ARG_IMAGE) == '/')
        return RefuseCommandLine(u"zar /verify IMAGE [p] [/j]");
    uint8_t closing = ReadOnlyClosingCommand(args);
    if (ExitStatus status = OpenAndPrepareImage(args); status != EXIT_OK)
        return status;
    if (!AllocateRunBuffers())
        return EXIT_BAD_IMAGE;

    PrintBanner();
    if (!ReadyForFollowMode())
        return EXIT_STOPPED;
    if (!EnterFollowModeAndIdentify(&closing))
        return HandBackAndEnd(closing, EXIT_NO_ANSWER, &args, Road::Looks);
    if (ExitStatus refused = GuardChip(RunState.ImageSize, closing, args, Road::Looks); refused != EXIT_OK)
        return refused;
    FlashReportIdentity(RunState.Chip);
    Print(u"\n");

    ProgressBegin(&gProgress, u"Verifying...     : ", static_cast<uint32_t>(RunState.ImageSize));
    gStep = ProgressStep(static_cast<uint32_t>(RunState.ImageSize), MARK_BYTES / 16);
    WalkImageBlocks(CompareBlock);
    if (EcChannelDead())  // the last block's line says how far it came
        return HandBackAndEnd(closing, EXIT_NO_ANSWER, &args, Road::Looks);
    ProgressEnd(&gProgress);
    Print(u"\n");
    ExitStatus status = RunState.BlocksFailed == 0 ? EXIT_OK : EXIT_FLASH_FAILED;

    if (RunState.BlocksFailed != 0)
        Print(u"\n\rVERIFY FAILED!! %d of %d blocks differ from the image.\n", RunState.BlocksFailed,
              RunState.BlocksFailed + RunState.BlocksUnchanged);
    else if (status == EXIT_OK)
        Print(u"\n\rThe chip holds the image: all %d bytes equal.\n", RunState.ImageSize);
    PrintChecksum();
    return HandBackAndEnd(closing, status, &args, Road::Looks);
}

}  // namespace zar
