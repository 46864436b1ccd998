// zar /verify IMAGE [p] [/j]: does the chip hold the image? The module check
// (unless "p"), then the chip read over the image's length and compared
// block by block. Nothing is written.
#include "Applications/Main/Banner.h"
#include "Applications/Main/BlockSequence.h"
#include "Applications/Main/ChipGuards.h"
#include "Applications/Main/ImageBlocks.h"
#include "Applications/Main/Main.h"
#include "Applications/Main/RunState.h"
#include "Applications/Main/UserBreak.h"
#include "Applications/Main/VerbSteps.h"
#include "Applications/Main/Verbs.h"
#include "ec/EcChannel.h"
#include "flash/FlashPrimitives.h"
#include "flash/FlashRead.h"
#include "platform/Platform.h"

namespace zar {
namespace {

// Equal blocks count as unchanged, differing ones as failed; one the EC
// stopped answering in counts as neither.
void CompareBlock(uint8_t block)
{
    int32_t start = block * static_cast<int32_t>(BLOCK_SIZE);
    int32_t count = ImageBytesInBlock(block);
    IgnoreBreak();
    Print(u"Block %-11d: ", block);
    FlashComparison chip = FlashCompare(static_cast<uint32_t>(start), RunState.Block, count, false);
    if (chip.NoAnswer)
        return;
    RunState.Checksum += chip.Sum;
    RunState.VerifiedBytes = start + count;
    if (chip.Differing == 0) {
        Print(u" -- Equal. \n");
        ++RunState.BlocksUnchanged;
        return;
    }
    Print(u" -- %d byte(s) differ, the first at %x. \n", chip.Differing, start + chip.FirstDifference);
    ++RunState.BlocksFailed;
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

    bool readWhole = WalkImageBlocks(CompareBlock);
    if (EcChannelDead())
        return HandBackAndEnd(closing, EXIT_NO_ANSWER, &args, Road::Looks);
    ExitStatus status = readWhole && RunState.BlocksFailed == 0 ? EXIT_OK : EXIT_FLASH_FAILED;

    if (RunState.BlocksFailed != 0)
        Print(u"\n\rVERIFY FAILED!! %d of %d blocks differ from the image.\n", RunState.BlocksFailed,
              RunState.BlocksFailed + RunState.BlocksUnchanged);
    else if (status == EXIT_OK)
        Print(u"\n\rThe chip holds the image: all %d bytes equal.\n", RunState.ImageSize);
    PrintChecksum();
    return HandBackAndEnd(closing, status, &args, Road::Looks);
}

}  // namespace zar
