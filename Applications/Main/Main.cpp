// The flasher's entry: start-up, the command line, and the one way out of
// every run.
#include "Applications/Main/Main.h"

#include "Applications/Main/Arguments.h"
#include "Applications/Main/Banner.h"
#include "Applications/Main/BlockSequence.h"
#include "Applications/Main/ImageBlocks.h"
#include "Applications/Main/LeadingWords.h"
#include "Applications/Main/Rerun.h"
#include "Applications/Main/RunRecord.h"
#include "Applications/Main/RunState.h"
#include "Applications/Main/UserBreak.h"
#include "Applications/Main/VerbTable.h"
#include "Applications/Main/Verbs.h"
#include "ec/EcChannel.h"
#include "flash/FlashPrimitives.h"
#include "platform/Platform.h"
#include "platform/Text.h"

namespace zar {

RunStateRecord RunState;

namespace {

void ShowUsage()
{
    ClearScreen();
    PrintBanner();
    Print(u"\n\rFlash FW Cammand :");  // spelled so on purpose (flash/FlashText.h)
    Print(u"\n\rZARMOK [filename]\n");
    PrintVerbUsage();
}

// A name that did not open gets one more try. Either way the run ends here.
ExitStatus FileNameRoad(const char* name)
{
    return OpenImage(name) ? EXIT_OK : EXIT_BAD_IMAGE;
}

ExitStatus Run(const Arguments& fullCommandLine)
{
    // 1. Ports, then the console.
    RunState.BlockCounter = 0;
    RunState.Checksum = 0;
    EcOpenChannel();
    FlashBusReset();
    SetAttribute(CONSOLE_LIGHTGRAY_ON_BLACK);

    // 2. The leading words: "/log FILE" opens the record before the EC is
    //    touched, and the rest of the line is read as if they were not there.
    LeadingWords lead;
    bool leadRead = ReadLeadingWords(fullCommandLine, &lead);
    RunState.Ending = lead.Ending;  // a wait given before a refused word still holds
    if (!leadRead)
        return EXIT_BAD_IMAGE;
    Arguments args = fullCommandLine.From(lead.Next - 1);

    // 3. No image named: the usage screen.
    if (args.Count() <= 1) {
        if (lead.ForUpdateOnly)
            return RefuseUpdateLine();
        ShowUsage();
        RunState.ShowedUsage = true;
        return EXIT_OK;
    }

    // 4. A first word that begins with "/" is a verb (in any case), never an
    //    image; then, after the verb or the image, no leading word and no
    //    verb counts.
    const VerbRow* verb = FindVerb(args.At(1));
    if (verb == nullptr && args.First(1) == '/')
        return RefuseUnknownVerb(args.At(1));
    if (!RefuseWordsOutOfPlace(args, ARG_IMAGE + 1))
        return EXIT_BAD_IMAGE;

    // 5. A verb takes the rest of the line; "/backup" and "/keep" are
    //    /update's alone.
    bool update = verb && verb->Run == RunUpdate;
    if (lead.ForUpdateOnly && !update)
        return RefuseUpdateLine();
    if (update)
        return RunUpdateWith(args.From(1), lead.Update);
    if (verb)
        return verb->Run(args.From(1));

    // 6. The image, measured and read whole before the EC is touched.
    const char* name = args.At(ARG_IMAGE);
    RunState.ImageFile = FileOpen(name, "rb");
    if (RunState.ImageFile == nullptr)
        return FileNameRoad(name);

    // 7. Is the image for this EC? Then flash it.
    if (ExitStatus status = PrepareImage(args); status != EXIT_OK)
        return status;
    return FlashImageBlocks(args);
}

// "/then" is carried out only after a run that ended well: status 0, and
// the EC out of follow mode (handed back, or never asked to enter it).
// After anything else the machine stays up: an EC left in follow mode
// waits there for the rerun.
void SettleTheEnding(ExitStatus status)
{
    RunEnding& ending = RunState.Ending;
    ending.EcInFollowMode = RunState.TakingBreaks && !RunState.ClosingTaken;
    if (ending.Then == AfterRun::Return)
        return;
    const char16_t* why = nullptr;
    if (status != EXIT_OK)
        why = u"the run did not end well, and the machine stays on for the rerun";
    else if (ending.EcInFollowMode)
        why = u"the EC stays in follow mode";
    else if (RunState.ShowedUsage)
        why = u"nothing was run";
    if (why == nullptr)
        return;
    Print(u"\n\r/then %a is not carried out: %s.\n", ending.Then == AfterRun::Reset ? "reset" : "off", why);
    ending.Then = AfterRun::Return;
}

}  // namespace

int main(int argc, char* argv[])
{
    MemSet(&RunState, 0, sizeof RunState);
    Arguments line(argc, argv);
    RememberCommandLine(&line);  // for the command a failed run tells the user to type
    ExitStatus status = Run(line);
    RememberCommandLine(nullptr);

    // Whatever the way out, nothing is left held.
    ReleaseBlockBuffers();
    RunRecordEnd(status);  // before the image is let go: the record tells whether it was read whole
    ReleaseImage();
    if (RunState.ImageFile) {
        FileClose(RunState.ImageFile);
        RunState.ImageFile = nullptr;
    }
    IgnoreBreak();  // the last safe point: a Ctrl-C left for the Shell would end the script that ran us
    SettleTheEnding(status);
    return status;
}

bool LastRunOutOfMemory()
{
    return RunState.OutOfMemory;
}

RunEnding LastRunEnding()
{
    return RunState.Ending;
}

}  // namespace zar
