// The end of a run. From the Shell the prompt keeps the last screen and
// nothing is added, unless the program asked for a wait or a reset. Without a
// Shell the boot manager takes the screen back as soon as the program
// returns (EDK2's BDS then tries the next boot option after a failure, or
// shows its menu after a success), so the run ends with a line that says how
// it ended and a bounded wait for a key.
#include "platform/Platform.h"
#include "platform/uefi/UefiRuntime.h"

namespace zar::uefi {
namespace {

RunEnding gEnding;

// The statuses our programs end with, by the names the README's table gives.
const char16_t* StatusName(EFI_STATUS status)
{
    switch (status) {
    case EFI_SUCCESS:
        return u"EFI_SUCCESS";
    case EFI_ABORTED:
        return u"EFI_ABORTED";
    case EFI_LOAD_ERROR:
        return u"EFI_LOAD_ERROR";
    case EFI_OUT_OF_RESOURCES:
        return u"EFI_OUT_OF_RESOURCES";
    case EFI_DEVICE_ERROR:
        return u"EFI_DEVICE_ERROR";
    case EFI_TIMEOUT:
        return u"EFI_TIMEOUT";
    case EFI_INVALID_PARAMETER:
        return u"EFI_INVALID_PARAMETER";
    default:
        return u"an EFI status";
    }
}

// Where a run without a Shell looked for its words, when it found none.
void SayNoWords()
{
    const char16_t* folder = gFirmware.Folder ? gFirmware.Folder : u"\\";
    if (gFirmware.OptionBytes == 0)
        Print(u"\r\nNo command line: the boot option gave no load options, and there is no %szar.args.\r\n", folder);
    else
        Print(u"\r\nNo command line: the boot option's %d bytes of load options hold none, and there is no"
              u" %szar.args.\r\n",
              gFirmware.OptionBytes, folder);
}

void SayHowItEnded(EFI_STATUS status, AfterRun then, uint32_t wait)
{
    Print(u"\r\nRUN ENDED: %s (0x%lx).", StatusName(status), static_cast<uint64_t>(status & ~EFI_ERROR_MASK));
    if (gEnding.EcInFollowMode)
        Print(u" The EC stays in follow mode: do not switch off; run again as the lines above say.");
    if (then != AfterRun::Return)
        Print(then == AfterRun::Reset ? u" Then the machine resets." : u" Then the machine powers off.");
    if (wait != 0)
        Print(u" Press a key to go on (%d s).", wait);
    Print(u"\r\n");
}

// Waits at most seconds for a key, in 50 ms steps; keys pressed during the
// run are thrown away first. The boot manager's 5-minute watchdog
// (BmBoot.c) is still armed after a run that never entered follow mode, and
// a wait of ours must not end in its reset.
void WaitForKey(uint32_t seconds)
{
    SIMPLE_INPUT_INTERFACE* in = gFirmware.System->ConIn;
    if (in == nullptr)
        return;
    DisableWatchdog();
    in->Reset(in, FALSE);
    for (uint32_t step = 0; step < seconds * 20; ++step) {
        EFI_INPUT_KEY key;
        if (in->ReadKeyStroke(in, &key) == EFI_SUCCESS || EFI_ERROR(gFirmware.Boot->Stall(50000)))
            return;
    }
}

}  // namespace

void SetRunEnding(const RunEnding& ending)
{
    gEnding = ending;
    if (gEnding.WaitSeconds > MAX_WAIT_SECONDS)
        gEnding.WaitSeconds = MAX_WAIT_SECONDS;
}

void EndRun(EFI_STATUS status)
{
    bool withoutShell = gFirmware.Words != WordsSource::Shell;
    uint32_t wait = gEnding.WaitGiven ? gEnding.WaitSeconds : withoutShell ? DEFAULT_WAIT_SECONDS : 0;
    // Never after a failure: an EC left in follow mode waits for the rerun,
    // which only a machine that stays up can make.
    AfterRun then = status == EFI_SUCCESS ? gEnding.Then : AfterRun::Return;
    if (withoutShell && gFirmware.Words == WordsSource::None)
        SayNoWords();
    if (withoutShell || gEnding.WaitGiven || then != AfterRun::Return)
        SayHowItEnded(status, then, wait);
    if (wait != 0)
        WaitForKey(wait);
    EFI_RUNTIME_SERVICES* runtime = gFirmware.System->RuntimeServices;
    if (then == AfterRun::Return || runtime == nullptr)
        return;
    runtime->ResetSystem(then == AfterRun::Reset ? EfiResetCold : EfiResetShutdown, EFI_SUCCESS, 0, nullptr);
}

}  // namespace zar::uefi
