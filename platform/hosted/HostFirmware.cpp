#include "platform/hosted/HostFirmware.h"

#include "platform/Platform.h"
#include "platform/Uninterrupted.h"

namespace zar::hosted {
namespace {

bool gCtrlC = false;
uint32_t gWatchdogDisables = 0;
uint32_t gServiceCallsHeld = 0;

}  // namespace

void PressCtrlC()
{
    gCtrlC = true;
}

bool CtrlCPending()
{
    return gCtrlC;
}

uint32_t WatchdogDisables()
{
    return gWatchdogDisables;
}

uint32_t ServiceCallsWhileUninterrupted()
{
    return gServiceCallsHeld;
}

void ResetFirmware()
{
    gCtrlC = false;
    gWatchdogDisables = 0;
    gServiceCallsHeld = 0;
}

void NoteServiceCall()
{
    if (gUninterruptedDepth != 0)
        ++gServiceCallsHeld;
}

}  // namespace zar::hosted

namespace zar {

void DisableWatchdog()
{
    ++hosted::gWatchdogDisables;
}

bool TakeBreakRequest()
{
    bool pressed = hosted::gCtrlC;
    hosted::gCtrlC = false;
    return pressed;
}

}  // namespace zar
