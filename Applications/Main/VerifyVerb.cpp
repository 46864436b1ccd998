// zar /verify IMAGE [p] [/j]: does the chip hold the image? The module check
// (unless "p"), then the chip read over the image's length and compared
// block by block. Nothing is written.
#include "Applications/Main/Banner.h"
#include "Applications/Main/BlockSequence.h"
#include "Applications/Main/ChipGuards.h"
#include "Applications/Main/FlashState.h"
#include "Applications/Main/ImageBlocks.h"
#include "Applications/Main/Main.h"
#include "Applications/Main/VerbSteps.h"
#include "Applications/Main/Verbs.h"
#include "ec/EcChannel.h"
#include "flash/FlashPrimitives.h"
#include "flash/FlashRead.h"
#include "platform/Platform.h"

namespace zar {
namespace {

enum class Verdict { Equal, Differs, NoAnswer };

Verdict CompareBlock()
{
    uint8_t block = static_cast<uint8_t>(FlashState.BlockCounter - 1);
    int32_t start = block * static_cast<int32_t>(BLOCK_SIZE);
    int32_t count = ImageBytesInBlock(block);
    Print(u"Block %-11d: ", block);
    BlockComparison chip = FlashCompareBlock(block, count, false);
    if (chip.NoAnswer)
        return Verdict::NoAnswer;
    FlashState.Checksum += chip.Sum;
    FlashState.VerifiedBytes = start + count;
    if (chip.Differing == 0) {
        Print(u" -- Equal. \n");
        return Verdict::Equal;
    }
    Print(u" -- %d byte(s) differ, the first at %x. \n", chip.Differing, start + chip.FirstDifference);
    return Verdict::Differs;
}

}  // namespace

int RunVerify(const Arguments& args)
{
    int words = WordsBeforeAltExit(args);
    if (words < 2 || words > 3 || args.First(ARG_IMAGE) == '/')
        return RefuseCommandLine(u"zar /verify IMAGE [p] [/j]");
    uint8_t closing = ReadOnlyClosingCommand(args);
    if (int status = OpenAndPrepareImage(args); status != EXIT_OK)
        return status;
    if (!AllocateRunBuffers())
        return EXIT_BAD_IMAGE;

    PrintBanner();
    EnterStage(RunStage::Blocks);
    if (!EnterFollowModeAndIdentify(&closing))
        return EndInFollowMode(args);
    if (int refused = GuardChip(FlashState.ImageSize, closing); refused != EXIT_OK)
        return AfterHandBack(args, closing, refused);
    FlashReportIdentity();
    Print(u"\n");

    int status = EXIT_OK;
    for (;;) {
        BlockRead read = ReadNextBlock();
        if (read == BlockRead::End)
            break;
        if (read == BlockRead::ReadError) {
            ReportImageReadError();
            status = EXIT_FLASH_FAILED;
            break;
        }
        Verdict verdict = CompareBlock();
        if (verdict == Verdict::NoAnswer)
            return EndInFollowMode(args);
        if (verdict == Verdict::Equal) {
            ++FlashState.BlocksUnchanged;
        } else {
            ++FlashState.BlocksFailed;
            status = EXIT_FLASH_FAILED;
        }
    }

    if (FlashState.BlocksFailed != 0)
        Print(u"\n\rVERIFY FAILED!! %d of %d blocks differ from the image.\n", FlashState.BlocksFailed,
              FlashState.BlocksFailed + FlashState.BlocksUnchanged);
    else if (status == EXIT_OK)
        Print(u"\n\rThe chip holds the image: all %d bytes equal.\n", FlashState.ImageSize);
    PrintChecksum();
    return HandBackAndEnd(args, closing, status);
}

}  // namespace zar
