#include "Applications/Main/HandBack.h"

#include "Applications/Main/Rerun.h"
#include "Applications/Main/RunRecord.h"
#include "ec/EcChannel.h"
#include "platform/Platform.h"

namespace zar {

ExitStatus HandBackAndEnd(uint8_t closing, ExitStatus status, const Arguments* rerun)
{
    if (rerun && (EcChannelDead() || status != EXIT_OK)) {
        if (EcChannelDead()) {
            ReportWaitFault();
            status = EXIT_NO_ANSWER;
        }
        SayEcStaysInFollowMode();
        AdviseRerunWithoutModuleCheck(*rerun);
        return status;
    }

    RunRecordHandBack(closing, status);
    if (closing != 0)
        EcSendCommand(closing);
    else if (!rerun)
        SayEcStaysInFollowMode();  // the classic "p ARG3" run has always ended without a word
    if (status != EXIT_OK || !EcChannelDead())
        return status;
    ReportWaitFault();
    if (rerun) {
        Print(u"\n\rThe EC did not take the closing command: it may still be in follow mode.\n");
        AdviseRerunWithoutModuleCheck(*rerun);
    }
    return EXIT_NO_ANSWER;
}

void ReportWaitFault()
{
    EcFault fault = EcChannelFault();
    const char16_t* wait = u"EC input buffer";
    switch (fault.Wait) {
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
    if (fault.Place == 0)
        Print(u"\n\rNO ANSWER!! The %s wait ran out before the first block. Nothing more was sent to the EC.\n",
              wait);
    else
        Print(u"\n\rNO ANSWER!! The %s wait ran out at block %d. Nothing more was sent to the EC.\n", wait,
              fault.Place - 1);
}

void SayEcStaysInFollowMode()
{
    Print(u"\n\rNo closing command sent: the EC stays in follow mode and can be flashed again.\n");
}

}  // namespace zar
