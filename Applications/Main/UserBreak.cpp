#include "Applications/Main/UserBreak.h"

#include "Applications/Main/RunState.h"
#include "platform/Platform.h"

namespace zar {

bool ReadyForFollowMode()
{
    if (TakeBreakRequest()) {
        RunState.Stopped = true;
        Print(u"\n\rSTOPPED!! Ctrl-C was pressed before follow mode: nothing was written and the EC is as it was.\n");
        return false;
    }
    DisableWatchdog();
    RunState.TakingBreaks = true;
    return true;
}

void IgnoreBreak()
{
    if (!RunState.TakingBreaks || !TakeBreakRequest() || RunState.BreakIgnored)
        return;
    RunState.BreakIgnored = true;
    Print(u"\n\rCtrl-C is ignored while the EC is in follow mode: the run goes on to its end.\n");
}

}  // namespace zar
