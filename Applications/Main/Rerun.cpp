#include "Applications/Main/Rerun.h"

#include "Applications/Main/RunState.h"
#include "Applications/Main/VerbSteps.h"
#include "ec/EcChannel.h"
#include "platform/Platform.h"
#include "platform/Text.h"

namespace zar {
namespace {

const Arguments* gCommandLine = nullptr;

void PrintWord(const char* word)
{
    bool spaced = false;
    for (const char* c = word; *c; ++c)
        spaced = spaced || *c == ' ';
    Print(spaced ? u" \"%a\"" : u" %a", word);
}

// "  zar [/log FILE] [VERB] IMAGE [p] [ARG3...]" on a line of its own, as it
// is to be typed. args is the end of the whole line, from the word before
// the image on. Once the backup is written, "/backup FILE" is left out: the
// file holds the content from before, and a second backup would be refused
// for it.
void PrintCommand(const Arguments& args, bool skipCheck)
{
    Print(u"\n\r  zar");
    int before = gCommandLine ? gCommandLine->Count() - args.Count() : 0;
    for (int i = 1; i <= before; ++i) {
        if (RunState.Update.BackupWritten && TextEqual(gCommandLine->At(i), "/backup") && i + 1 <= before) {
            ++i;
            continue;
        }
        PrintWord(gCommandLine->At(i));
    }
    PrintWord(args.At(ARG_IMAGE));
    if (skipCheck)
        PrintWord("p");
    else if (args.Has(ARG_SKIP_CHECK))
        PrintWord(args.At(ARG_SKIP_CHECK));
    for (int i = ARG_SKIP_CHECK + 1; i < args.Count(); ++i)
        PrintWord(args.At(i));
    Print(u"\n");
}

}  // namespace

void RememberCommandLine(const Arguments* line)
{
    gCommandLine = line;
}

void EnterFollowMode()
{
    EcEnterFollowMode();
    if (EcChannelFault().Wait == WaitFault::EcOutputBuffer) {
        EcTakeBackGiveUp();
        Print(u"\nNo answer to follow-mode entry: the EC may still be in follow mode from a run that was cut"
              u" short. Going on.\n");
    }
}

void AdviseRerunWithoutModuleCheck(const Arguments& args)
{
    Print(u"\n\rDo not switch off. Run again with p, as an EC in follow mode can't answer the module check:");
    PrintCommand(args, true);
    RunState.Rerun = RerunAdvice::SkipModuleCheck;
}

void AdviseRerunAfterModuleCheck(const Arguments& args)
{
    Print(u"\n\rThe EC did not answer the module check. Run again:");
    PrintCommand(args, false);
    Print(u"\n\rIf a run before this one was cut short, the EC is still in follow mode and can't answer the check;"
          u" skip it with p:");
    PrintCommand(args, true);
    RunState.Rerun = RerunAdvice::SameCommand;
}

void AdviseHandBackAfterLooking(const Arguments& args)
{
    const char* image = TextEqual(args.At(0), "/verify") ? args.At(ARG_IMAGE) : nullptr;
    Print(u"\n\rDo not switch off. Hand the EC back with /update and p, as an EC in follow mode can't answer the"
          u" module check; it writes only the blocks that differ from the image:");
    Print(u"\n\r  zar");
    int before = gCommandLine ? gCommandLine->Count() - args.Count() : 0;  // "/log FILE" and the program
    for (int i = 1; i < before; ++i)
        PrintWord(gCommandLine->At(i));
    PrintWord("/update");
    PrintWord(image ? image : "IMAGE");
    PrintWord("p");
    if (EndsWithAltExit(args)) {
        PrintWord("x");  // "/j" counts in the fourth place only
        PrintWord("/j");
    }
    Print(u"\n");
    if (image == nullptr)
        Print(u"  (IMAGE: this EC's firmware image)\n");
}

}  // namespace zar
