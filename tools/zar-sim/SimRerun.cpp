#include "tools/zar-sim/SimRerun.h"

#include "Applications/Main/Rerun.h"
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
    bool withP = RunState.Rerun == RerunAdvice::SkipModuleCheck;
    if (!withP && RunState.Rerun != RerunAdvice::ChangedCommand) {
        for (int i = 0; i < argc; ++i)
            out[i] = argv[i];
        return argc;
    }
    // The flasher's own words, as its console printed them.
    struct Words {
        char** Out;
        int Count;
    } words = {out, 0};
    out[words.Count++] = argv[0];
    RerunWords(Arguments(argc, argv),
               [](const char* word, void* context) {
                   auto* collected = static_cast<Words*>(context);
                   collected->Out[collected->Count++] = const_cast<char*>(word);  // main() only reads them
               },
               &words, withP);
    return words.Count;
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
