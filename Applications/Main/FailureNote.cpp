#include "Applications/Main/FailureNote.h"

#include "Applications/Main/RunState.h"
#include "ec/EcChannel.h"
#include "platform/Platform.h"

namespace zar {
namespace {

const char16_t* StepName(FailedStep step)
{
    switch (step) {
    case FailedStep::Unprotect:
        return u"unprotect";
    case FailedStep::Erase:
        return u"erase";
    case FailedStep::BlankCheck:
        return u"blank check";
    case FailedStep::Program:
        return u"program";
    case FailedStep::Verify:
        return u"verify";
    case FailedStep::None:
        break;
    }
    return u"";
}

}  // namespace

const char16_t* WaitName(WaitFault wait)
{
    switch (wait) {
    case WaitFault::EcOutputBuffer:
        return u"EC output buffer";
    case WaitFault::FlashBusy:
        return u"flash busy";
    case WaitFault::WriteEnable:
        return u"write enable";
    case WaitFault::EcInputBuffer:
    case WaitFault::None:
        break;
    }
    return u"EC input buffer";
}

void NoteFailure(FailedStep step, int32_t block, const FlashResult& result, uint32_t address, uint8_t expected)
{
    FailureNote& note = RunState.Failure;
    if (note.Step != FailedStep::None)
        return;
    note = {step, result.Outcome == FlashOutcome::NoAnswer, result.Outcome == FlashOutcome::Differs, block,
            address, expected, result.Found};
}

void NoteFailedStep(FailedStep step, int32_t block, bool waitRanOut)
{
    NoteFailure(step, block, {waitRanOut ? FlashOutcome::NoAnswer : FlashOutcome::OutOfRange, 0, 0});
}

void PrintFailureNote()
{
    const FailureNote& note = RunState.Failure;
    if (note.Step == FailedStep::None)
        return;
    int32_t blocks = (RunState.ImageSize + static_cast<int32_t>(BLOCK_SIZE) - 1) / static_cast<int32_t>(BLOCK_SIZE);
    Print(u"\n\rFailed           : block %d of %d, %s", note.Block, blocks, StepName(note.Step));
    if (note.WaitRanOut)
        Print(u": the %s wait ran out", WaitName(EcChannelFault().Wait));
    if (RunState.BlocksFailed > 1)
        Print(u" (the first of %d blocks that failed)", RunState.BlocksFailed);
    Print(u"\n");
    if (note.HasByte)
        Print(u"First difference : 0x%X: expected %02X, found %02X\n", note.Address, note.Expected, note.Found);
}

}  // namespace zar
