#include "tools/zar-sim/SimRerun.h"

#include "Applications/Main/RunState.h"
#include "Applications/Main/Main.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "tools/zar-sim/SimReport.h"

namespace zar::sim {
namespace {

void PrintCommandLine(int argc, char* argv[])
{
    Print(u"zar-sim:  ");
    for (int i = 0; i < argc; ++i)
        Print(u" %a", argv[i]);
    Print(u"\n");
}

}  // namespace

int RerunCommandLine(int argc, char* argv[], char* out[])
{
    static char skip[] = "p";
    if (RunState.Rerun != RerunAdvice::SkipModuleCheck) {
        for (int i = 0; i < argc; ++i)
            out[i] = argv[i];
        return argc;
    }
    // The words before the image ("/log FILE", "/backup FILE", "/keep RANGE",
    // "/update") as given, but without "/backup FILE" once the file is
    // written; p after the image.
    int count = 0;
    int at = 0;
    out[count++] = argv[at++];
    auto leading = [](const char* word) {
        return TextEqual(word, "/log") || TextEqual(word, "/backup") || TextEqual(word, "/keep");
    };
    for (; at + 1 < argc && leading(argv[at]); at += 2) {
        if (TextEqual(argv[at], "/backup") && RunState.Update.BackupWritten)
            continue;
        out[count++] = argv[at];
        out[count++] = argv[at + 1];
    }
    if (at < argc && TextEqual(argv[at], "/update"))
        out[count++] = argv[at++];
    if (at >= argc)
        return count;
    out[count++] = argv[at++];  // the image
    out[count++] = skip;
    if (at < argc)
        ++at;  // the word p replaces
    for (; at < argc; ++at)
        out[count++] = argv[at];
    return count;
}

void SayHowTheRunEnded(SimEc& ec, const char* run, int status, const char* verb)
{
    Print(u"zar-sim: %a: status %d, %a\n", run, status, ExitStatusText(status, ec.Mode() != EcMode::Normal, verb));
}

int RunAsAdvised(SimMachine& machine, int argc, char* argv[], int firstStatus, const char* verb)
{
    static char* rerunArgv[65];
    int rerunArgc = RerunCommandLine(argc, argv, rerunArgv);
    Print(u"zar-sim: EC %a\n", EcStateText(machine.Ec().Mode()));
    SayHowTheRunEnded(machine.Ec(), "first run", firstStatus, verb);
    machine.NextRun();  // an absent chip is a fault too
    Print(u"zar-sim: faults cleared; again, against the EC and chip as the first run left them:\n");
    PrintCommandLine(rerunArgc, rerunArgv);
    return zar::main(rerunArgc, rerunArgv);
}

}  // namespace zar::sim
