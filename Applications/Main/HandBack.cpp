#include "Applications/Main/HandBack.h"

#include "Applications/Main/FailureNote.h"
#include "Applications/Main/Protection.h"
#include "Applications/Main/Rerun.h"
#include "Applications/Main/RunRecord.h"
#include "Applications/Main/RunState.h"
#include "ec/EcChannel.h"
#include "flash/FlashPrimitives.h"
#include "platform/Platform.h"

namespace zar {

namespace {

// What to type next, for a road that gives it. A protected chip first needs
// a change that no rerun of the same command makes.
void Advise(const Arguments* args, Road road)
{
    if (args == nullptr)
        return;
    if (ProtectionHeld())
        AdviseAfterProtection(*args, false);
    else if (road == Road::Writes)
        AdviseRerunWithoutModuleCheck(*args);
    else if (road == Road::Looks)
        AdviseHandBackAfterLooking(*args);
}

}  // namespace

void NoteImageWhole()
{
    RunState.Known.ImageWhole = true;
    RunState.Known.WritesThen = FlashBusSent().Writes;
}

void NoteEcRanItsFirmware()
{
    RunState.Known.EcRanItsFirmware = true;
}

bool ChipKnownWhole()
{
    const ChipKnowledge& known = RunState.Known;
    uint32_t writes = FlashBusSent().Writes;
    return (known.ImageWhole && writes == known.WritesThen) || (known.EcRanItsFirmware && writes == 0);
}

ExitStatus HandBackAndEnd(uint8_t closing, ExitStatus status, const Arguments* args, Road road)
{
    bool writes = road == Road::Writes;
    if (EcChannelDead() && road == Road::Looks) {
        ReportWaitFault();
        Advise(args, road);
        return EXIT_NO_ANSWER;
    }
    // A run that writes and may not close stays in follow mode, with the
    // command that finishes; a verb that writes nothing leaves the EC as it
    // found it (its closing is 0 after an unacknowledged entry).
    if (writes && (EcChannelDead() || (!ChipKnownWhole() && (closing != 0 || status != EXIT_OK)))) {
        if (EcChannelDead()) {
            ReportWaitFault();
            status = EXIT_NO_ANSWER;
        }
        PrintFailureNote();
        SayEcStaysInFollowMode();
        Advise(args, road);
        return status;
    }
    if (!ChipKnownWhole())
        closing = 0;

    if (writes && ProtectionHeld() && args != nullptr)
        AdviseAfterProtection(*args, closing != 0);  // before the record closes: the advice is part of it
    RunRecordHandBack(closing, status);
    if (closing != 0) {
        MarkPlace(RunStage::Closing);
        EcSendCommand(closing);
        RunState.ClosingTaken = !EcChannelDead();
    } else if (!writes) {
        SayEcStaysInFollowMode();  // the classic "p ARG3" run has always ended without a word
    }
    if (status != EXIT_OK || !EcChannelDead()) {
        if (closing == 0 && road == Road::Looks)
            Advise(args, road);
        return status;
    }
    ReportWaitFault();
    if (writes)
        Print(u"\n\rThe EC did not take the closing command: it may still be in follow mode.\n");
    Advise(args, road);
    return EXIT_NO_ANSWER;
}

void ReportWaitFault()
{
    EcFault fault = EcChannelFault();
    const char16_t* wait = WaitName(fault.Wait);
    constexpr const char16_t* NOTHING_MORE = u"Nothing more was sent to the EC.";
    uint32_t mark = fault.Place.Mark;
    switch (static_cast<RunStage>(fault.Place.Stage)) {
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
              static_cast<RunStage>(fault.Place.Stage) == RunStage::ReadPass1 ? 1 : 2, mark, NOTHING_MORE);
        break;
    case RunStage::PlanRead:
        Print(u"\n\rNO ANSWER!! The %s wait ran out reading the chip for the plan, in the sector at %x. %s\n", wait,
              mark, NOTHING_MORE);
        break;
    case RunStage::Closing:
        Print(u"\n\rNO ANSWER!! The %s wait ran out at the closing command. %s\n", wait, NOTHING_MORE);
        break;
    case RunStage::Blocks:
        if (mark == 0)
            Print(u"\n\rNO ANSWER!! The %s wait ran out before the first block. %s\n", wait, NOTHING_MORE);
        else
            Print(u"\n\rNO ANSWER!! The %s wait ran out at block %d. %s\n", wait, mark - 1, NOTHING_MORE);
        break;
    }
}

void SayEcStaysInFollowMode()
{
    Print(u"\n\rNo closing command sent: the EC stays in follow mode and can be flashed again.\n");
}

}  // namespace zar
