#include "Applications/Main/Rerun.h"

#include "Applications/Main/LeadingWords.h"
#include "Applications/Main/RunState.h"
#include "Applications/Main/VerbSteps.h"
#include "Applications/Main/Verbs.h"
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

const Arguments& WholeLine(const Arguments& args)
{
    return gCommandLine ? *gCommandLine : args;
}

void EmitPrinted(const char* word, void*)
{
    PrintWord(word);
}

// The command as it was given, on a line of its own.
void PrintSameCommand(const Arguments& args)
{
    const Arguments& line = WholeLine(args);
    Print(u"\n\r  zar");
    for (int i = 1; i < line.Count(); ++i)
        PrintWord(line.At(i));
    Print(u"\n");
}

// A line for each of the rerun's changes that the run's refusal asked for.
void SayRerunChanges(const Arguments& line)
{
    const RerunChanges& change = RunState.RerunChange;
    if (change.OtherImage)
        Print(u"  (IMAGE: this EC's firmware image, one the chip can hold)\n");
    const UpdateTally& update = RunState.Update;
    if (update.TailAtRisk)
        Print(u"  (the chip's bytes from %x to %x, past the image's end, were erased with its last sector or block and "
              u"may not all be back: %s)\n",
              update.TailStart, update.TailEnd - 1,
              update.BackupWritten ? u"the backup holds them" : u"only a backup of the chip held them");
    for (int at = 1, keep = 0; IsLeadingWord(line.At(at)) && line.Has(at + 1); at += 2) {
        if (LeadingWordIs(line.At(at), "/backup") && change.WithoutBackup && !RunState.Update.BackupWritten)
            Print(u"  (without /backup %a: it could not be written)\n", line.At(at + 1));
        if (!LeadingWordIs(line.At(at), "/keep"))
            continue;
        if (change.KeepsLeftOut & (1u << keep))
            Print(u"  (without /keep %a: %s)\n", line.At(at + 1), change.KeepsLeftOutWhy);
        else if (change.KeepCut == keep + 1)
            Print(u"  (/keep %a cut to %a, the chip's end)\n", line.At(at + 1), change.CutRange);
        ++keep;
    }
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

void RerunWords(const Arguments& line, void (*emit)(const char* word, void* context), void* context, bool withP)
{
    const RerunChanges& change = RunState.RerunChange;
    int at = 1;
    for (int keep = 0; IsLeadingWord(line.At(at)); at += 2) {
        const char* word = line.At(at);
        const char* given = line.At(at + 1);
        if (LeadingWordIs(word, "/backup") && (RunState.Update.BackupWritten || change.WithoutBackup))
            continue;  // the file holds the chip from before, or can't be written
        if (LeadingWordIs(word, "/keep")) {
            int index = keep++;
            if (change.KeepsLeftOut & (1u << index))
                continue;
            if (change.KeepCut == index + 1)
                given = change.CutRange;
        }
        emit(word, context);
        if (given)
            emit(given, context);
    }
    bool update = line.Has(at) && VerbIs(line.At(at), "/update");
    if (line.Has(at) && IsVerb(line.At(at))) {
        emit(line.At(at++), context);
    } else if (change.AsUpdate && line.Has(at)) {
        emit("/update", context);
        update = true;
    }
    if (!line.Has(at))
        return;
    emit(change.OtherImage ? "IMAGE" : line.At(at), context);
    int end = line.Count();
    bool alt = update && end - 1 > at && TextEqual(line.At(end - 1), "/j");  // /update's "/j" is its last word
    if (withP)
        emit("p", context);
    else if (line.Has(at + 1) && !(alt && at + 1 == end - 1))
        emit(line.At(at + 1), context);
    for (int i = at + 2; i < end - (alt ? 1 : 0); ++i)
        emit(line.At(i), context);
    if (alt)
        emit("/j", context);
}

void AdviseCommandAsChanged(const Arguments& args)
{
    Print(u"\n\r  zar");
    RerunWords(WholeLine(args), EmitPrinted, nullptr, false);
    Print(u"\n");
    SayRerunChanges(WholeLine(args));
    RunState.Rerun = RerunAdvice::ChangedCommand;
}

void AdviseRerunWithP(const Arguments& args)
{
    Print(u"\n\r  zar");
    RerunWords(WholeLine(args), EmitPrinted, nullptr);
    Print(u"\n");
    SayRerunChanges(WholeLine(args));
    RunState.Rerun = RerunAdvice::SkipModuleCheck;
}

void AdviseRerunWithoutModuleCheck(const Arguments& args)
{
    Print(u"\n\rDo not switch off. Run again with p, as an EC in follow mode can't answer the module check:");
    AdviseRerunWithP(args);
}

void AdviseRerunAfterModuleCheck(const Arguments& args)
{
    Print(u"\n\rThe EC did not answer the module check. Run again:");
    PrintSameCommand(args);
    Print(u"\n\rIf a run before this one was cut short, the EC is still in follow mode and can't answer the check;"
          u" skip it with p:");
    Print(u"\n\r  zar");
    RerunWords(WholeLine(args), EmitPrinted, nullptr);
    Print(u"\n");
    RunState.Rerun = RerunAdvice::SameCommand;
}

void AdviseHandBackAfterLooking(const Arguments& args)
{
    const char* image = VerbIs(args.At(0), "/verify") ? args.At(ARG_IMAGE) : nullptr;
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
