#include "Applications/Main/BlockSequence.h"

#include "Applications/Main/Banner.h"
#include "Applications/Main/ChipGuards.h"
#include "Applications/Main/FlashState.h"
#include "Applications/Main/ImageBlocks.h"
#include "Applications/Main/Main.h"
#include "Applications/Main/ModuleCheck.h"
#include "Applications/Main/Rerun.h"
#include "Applications/Main/RunRecord.h"
#include "ec/EcChannel.h"
#include "flash/FlashErase.h"
#include "flash/FlashPrimitives.h"
#include "flash/FlashProgram.h"
#include "flash/FlashRead.h"
#include "flash/FlashVerify.h"
#include "flash/PartTable.h"
#include "flash/SpiOpcodes.h"
#include "platform/Platform.h"

namespace zar {
namespace {

void ProgramBlock(uint8_t block)
{
    if (ManufacturerId() == MAKER_SST) {
        if (FlashState.SstIdByRes == 1)
            FlashProgramAaiByte(block);
        else
            FlashProgramAaiWord(block);
    } else if (ManufacturerId() == MAKER_MXIC && FlashState.FlashId[2] == MXIC_CHUNKED_ID2) {
        FlashProgramChunked(block);
    } else {
        FlashProgramPages(block);
    }
}

void RedrawScreen()
{
    ClearScreen();
    SetCursorPosition(0, 0);
    PrintBanner();
    SetCursorPosition(1, 3);
}

// A block that failed leaves the run's byte counters behind; they are set to
// where this block starts so the erase stop, the blank check, the page
// programs and the verify all end at the image's true end.
void AlignCountersToBlock()
{
    int32_t start = (FlashState.BlockCounter - 1) * static_cast<int32_t>(BLOCK_SIZE);
    if (start > FlashState.ImageSize)
        start = FlashState.ImageSize;
    FlashState.BlankCheckedBytes = start;
    FlashState.ProgrammedBytes = start;
    FlashState.VerifiedBytes = start;
}

enum class BlockResult { Verified, Unchanged, Failed, NoAnswer };

// Update: what the chip holds over the block's share of the image, compared
// before anything is written. True when equal: the block is left alone and
// counts as read back.
bool BlockAlreadyWritten(uint8_t block)
{
    int32_t start = block * static_cast<int32_t>(BLOCK_SIZE);
    int32_t count = ImageBytesInBlock(block);
    Print(u"Compare...       : ");
    BlockComparison chip = FlashCompareBlock(block, count, true);
    if (chip.NoAnswer)
        return false;
    if (chip.Differing != 0) {
        Print(u" -- Differs at %x. \n", start + chip.FirstDifference);
        return false;
    }
    Print(u" -- Unchanged. \n");
    FlashState.Checksum += chip.Sum;
    FlashState.VerifiedBytes = start + count;
    return true;
}

BlockResult FlashOneBlock(BlockMode mode)
{
    uint8_t block = static_cast<uint8_t>(FlashState.BlockCounter - 1);
    AlignCountersToBlock();
    if (FlashState.BlockCounter > 1)
        RedrawScreen();
    FlashReportIdentity();
    Print(u"\nBlock Number     : %d \n\n", FlashState.BlockCounter - 1);

    if (mode == BlockMode::Update) {
        bool same = BlockAlreadyWritten(block);
        if (EcChannelDead())
            return BlockResult::NoAnswer;
        if (same)
            return BlockResult::Unchanged;
    }
    FlashUnprotect();
    FlashEraseSectors(block, SECTORS_PER_BLOCK);
    bool blank = FlashBlankCheck(block);
    if (EcChannelDead())
        return BlockResult::NoAnswer;
    if (!blank)
        return BlockResult::Failed;  // not programmed, not verified, not tried again

    ProgramBlock(block);
    bool verified = FlashVerifyBlock(block);
    if (EcChannelDead())
        return BlockResult::NoAnswer;
    return verified ? BlockResult::Verified : BlockResult::Failed;
}

// On a chip whose size is unknown an image larger than the chip wraps around
// its addresses: a later block overwrites block 0, and still verifies. Block 0
// is read back once more after the last block and compared with the image's
// first block. Chips of known size never get here: the guard refused an image
// too large for them. False when block 0 differs or the EC stopped answering.
bool FirstBlockStillHoldsTheImage()
{
    ChipIdentity chip = IdentifyPart(FlashState.FlashId, FlashState.IdByRes);
    if (chip.Size != 0 || FlashState.BlockCounter < 2 || FlashState.BlocksWritten == 0)
        return true;
    if (FileSeek(FlashState.ImageFile, 0, FILE_SEEK_SET) != 0 ||
        FileRead(FlashState.LowHalf, 1, HALF_BLOCK_SIZE, FlashState.ImageFile) != HALF_BLOCK_SIZE ||
        FileRead(FlashState.HighHalf, 1, HALF_BLOCK_SIZE, FlashState.ImageFile) != HALF_BLOCK_SIZE) {
        FlashState.ImageBytesRead = 0;
        ReportImageReadError();
        return false;
    }
    Print(u"\n\rBlock 0 again    : the chip's size is unknown; a larger image would have wrapped onto block 0.\n");
    // The block is read as a verify reads it; the run's checksum keeps its sum once.
    uint32_t checksum = FlashState.Checksum;
    int32_t verified = FlashState.VerifiedBytes;
    FlashState.BlockCounter = 1;  // a wait that runs out here is at block 0
    FlashState.VerifiedBytes = 0;
    bool same = FlashVerifyBlock(0);
    FlashState.Checksum = checksum;
    FlashState.VerifiedBytes = verified;
    if (!same && !EcChannelDead())
        Print(u"\n\rBLOCK 0 OVERWRITTEN!! The image is larger than the chip: its addresses wrapped.\n");
    return same;
}

}  // namespace

void PrintChecksum()
{
    Print(u"\n\rCurrent F/W Checksum : %04X\n", FlashState.Checksum);
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

void ReportWaitFault()
{
    const char16_t* wait = u"EC input buffer";
    switch (FlashState.Fault) {
    case WaitFault::EcOutputBuffer:
        wait = u"EC output buffer";
        break;
    case WaitFault::FlashBusy:
        wait = u"flash busy";
        break;
    case WaitFault::WriteEnable:
        wait = u"write enable";
        break;
    default:
        break;
    }
    constexpr const char16_t* NOTHING_MORE = u"Nothing more was sent to the EC.";
    switch (FlashState.Stage) {
    case RunStage::ModuleCheck:
        Print(u"\n\rNO ANSWER!! The %s wait ran out at the module check. %s\n", wait, NOTHING_MORE);
        break;
    case RunStage::Identification:
        Print(u"\n\rNO ANSWER!! The %s wait ran out at follow-mode entry or identification. %s\n", wait,
              NOTHING_MORE);
        break;
    case RunStage::ReadPass1:
    case RunStage::ReadPass2:
        Print(u"\n\rNO ANSWER!! The %s wait ran out in read pass %d at %x. %s\n", wait,
              FlashState.Stage == RunStage::ReadPass1 ? 1 : 2, FlashState.StageAddress, NOTHING_MORE);
        break;
    case RunStage::Closing:
        Print(u"\n\rNO ANSWER!! The %s wait ran out at the closing command. %s\n", wait, NOTHING_MORE);
        break;
    case RunStage::Blocks:
        if (FlashState.FaultBlock == 0)
            Print(u"\n\rNO ANSWER!! The %s wait ran out before the first block. %s\n", wait, NOTHING_MORE);
        else
            Print(u"\n\rNO ANSWER!! The %s wait ran out at block %d. %s\n", wait, FlashState.FaultBlock - 1,
                  NOTHING_MORE);
        break;
    }
}

void EnterStage(RunStage stage, uint32_t address)
{
    if (EcChannelDead())
        return;
    FlashState.Stage = stage;
    FlashState.StageAddress = address;
}

int PrepareImage(const Arguments& args)
{
    int32_t size = MeasureImage(FlashState.ImageFile);
    if (CheckImageSize(size) != ImageProblem::None)
        return EXIT_BAD_IMAGE;
    switch (CheckModuleIdentity(args, size)) {
    case ModuleCheckResult::Mismatch:
        return EXIT_MODULE_MISMATCH;
    case ModuleCheckResult::ReadError:
        return EXIT_FLASH_FAILED;
    case ModuleCheckResult::NoAnswer:
        ReportWaitFault();
        AdviseRerunAfterModuleCheck(args);
        return EXIT_NO_ANSWER;
    case ModuleCheckResult::Passed:
        break;
    }
    return SetUpImage(args.At(ARG_IMAGE)) == ImageProblem::None ? EXIT_OK : EXIT_BAD_IMAGE;
}

int OpenAndPrepareImage(const Arguments& args)
{
    FlashState.ImageFile = FileOpen(args.At(ARG_IMAGE), "rb");
    if (FlashState.ImageFile == nullptr) {
        Print(u"\nFILE NAME ERROR!!\n");
        return EXIT_BAD_IMAGE;
    }
    return PrepareImage(args);
}

int FlashImageBlocks(const Arguments& args, BlockMode mode)
{
    // 1. A fresh screen.
    ClearScreen();
    PrintBanner();

    // 2. Buffers before follow mode: nothing later can run out of memory.
    if (!AllocateRunBuffers())
        return EXIT_BAD_IMAGE;

    // 3. Follow mode and the chip: one that is missing, or too small for
    //    the image, ends the run before anything is erased.
    EnterStage(RunStage::Blocks);
    EnterFollowMode();
    if (!EcChannelDead())
        FlashIdentify();
    if (!EcChannelDead()) {
        if (int refused = GuardChip(FlashState.ImageSize, ClassicClosingCommand(args)); refused != EXIT_OK) {
            ReleaseBlockBuffers();
            return refused;
        }
    }

    // 4. The blocks. A block that fails is skipped, the run goes on.
    bool allVerified = true;
    bool readFailed = false;
    while (!EcChannelDead()) {
        BlockRead read = ReadNextBlock();
        if (read == BlockRead::End)
            break;
        if (read == BlockRead::ReadError) {
            ReportImageReadError();
            readFailed = true;
            break;
        }
        switch (FlashOneBlock(mode)) {
        case BlockResult::Verified:
            ++FlashState.BlocksWritten;
            break;
        case BlockResult::Unchanged:
            ++FlashState.BlocksUnchanged;
            break;
        case BlockResult::Failed:
        case BlockResult::NoAnswer:
            ++FlashState.BlocksFailed;
            allVerified = false;
            break;
        }
    }

    if (allVerified && !readFailed && !EcChannelDead() && !FirstBlockStillHoldsTheImage()) {
        ++FlashState.BlocksFailed;
        allVerified = false;
    }

    // 5. Close only after a fully good run; otherwise the EC stays in follow
    //    mode, where another run can still rewrite it.
    int status = EXIT_OK;
    if (EcChannelDead()) {
        ReportWaitFault();
        SayEcStaysInFollowMode();
        AdviseRerunWithoutModuleCheck(args);
        status = EXIT_NO_ANSWER;
    } else if (!allVerified || readFailed) {
        SayEcStaysInFollowMode();
        AdviseRerunWithoutModuleCheck(args);
        status = EXIT_FLASH_FAILED;
    } else {
        if (mode == BlockMode::Update && FlashState.BlocksWritten == 0)
            Print(u"\n\rThe EC is already up to date: every block equals the image. Nothing was written.\n");
        // With no closing command, the record all the same; the EC stays in follow mode.
        HandBackEc(ClassicClosingCommand(args), status);
    }
    if (status == EXIT_OK && EcChannelDead()) {  // the closing command itself was not taken
        ReportWaitFault();
        Print(u"\n\rThe EC did not take the closing command: it may still be in follow mode.\n");
        AdviseRerunWithoutModuleCheck(args);
        status = EXIT_NO_ANSWER;
    }

    ReleaseBlockBuffers();
    PrintChecksum();
    return status;
}

}  // namespace zar
