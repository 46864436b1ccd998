#include "tools/zar-sim/SimFrontEnd.h"

#include "Applications/Main/Main.h"
#include "Applications/Main/LeadingWords.h"
#include "Applications/Main/Verbs.h"
#include "ec/EcChannel.h"
#include "ec/ModuleName.h"
#include "platform/Faults.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "sim/SimMachine.h"
#include "sim/SimTrace.h"
#include "sim/SpiLog.h"
#include "tools/zar-sim/ChipList.h"
#include "tools/zar-sim/SimDecode.h"
#include "tools/zar-sim/SimReport.h"
#include "tools/zar-sim/SimState.h"

namespace zar::sim {
namespace {

// The simulated hardware of one run. Constant-initialised: no global
// constructor, and PowerUp() starts everything afresh.
SimMachine gMachine;

// The EC's module name: the given text padded with spaces, or the image's own
// name at MODULE_NAME_OFFSET read as the flasher reads it (what a short image
// lacks stays zero), so that a plain run passes the module check.
void SetEcModuleName(const SimOptions& options, const char* imageName)
{
    if (options.EcModule) {
        gMachine.Ec().SetModuleName(options.EcModule);
        return;
    }
    if (imageName == nullptr)
        return;
    PlatformFile* image = FileOpen(imageName, "rb");
    if (image == nullptr)
        return;
    uint8_t name[MODULE_NAME_LENGTH] = {};
    size_t got = 0;
    if (FileSeek(image, MODULE_NAME_OFFSET, FILE_SEEK_SET) == 0)
        got = FileRead(name, 1, MODULE_NAME_LENGTH, image);
    FileClose(image);
    gMachine.SetModuleName(name, got);
}

// A file shorter than the chip fills its start; the rest keeps the pattern.
bool LoadFile(const char* path, uint8_t* contents, uint32_t size)
{
    PlatformFile* file = FileOpen(path, "rb");
    if (file == nullptr)
        return false;
    FileRead(contents, 1, size, file);
    bool failed = FileReadFailed(file);
    FileClose(file);
    return !failed;
}

bool SaveFile(const char* path, const uint8_t* contents, uint32_t size)
{
    PlatformFile* file = FileOpen(path, "wb");
    if (file == nullptr)
        return false;
    bool written = FileWrite(contents, 1, size, file) == size;
    return FileClose(file) == 0 && written;
}

// The chip's contents before the run: --state's when it holds them, else
// --flash-in's over the pattern. *resumed: --state's kept values are in *kept.
// False after saying why there are none.
bool LoadContents(const SimOptions& options, const ChipInfo& chip, uint8_t* contents, SimMachine::Kept* kept,
                  bool* resumed)
{
    uint32_t size = chip.Part->Size;
    FillPattern(contents, size);
    StateRead state = options.StatePath ? ReadState(options.StatePath, chip, contents, kept) : StateRead::Missing;
    *resumed = state == StateRead::Read;
    if (state == StateRead::Refused)
        return false;
    if (*resumed && options.FlashIn) {
        Print(u"zar-sim: --state %a holds the chip already: drop --flash-in\n", options.StatePath);
        return false;
    }
    if (options.FlashIn && !LoadFile(options.FlashIn, contents, size)) {
        Print(u"zar-sim: can't read %a (%a)\n", options.FlashIn, CANT_READ_WHY);
        return false;
    }
    return true;
}

// The chip with its contents before the run, and the EC with it on its bus.
// Returns the contents (MemAlloc'd, the chip's size), or nullptr after saying
// why there are none.
uint8_t* BuildMachine(const SimOptions& options, const char* image)
{
    MachineSetup setup;
    setup.Chip = options.Chip;
    setup.ChipSize = options.ChipSize;
    setup.Ec = options.Ec;
    setup.ChipSetup = options.ChipSetup;
    setup.ChipAbsent = options.ChipAbsent;
    const ChipInfo& chip = gMachine.ChooseChip(setup);
    uint32_t size = chip.Part->Size;
    auto* contents = static_cast<uint8_t*>(MemAlloc(size));
    if (contents == nullptr) {
        Print(u"zar-sim: no memory for the chip's %d bytes\n", size);
        return nullptr;
    }
    SimMachine::Kept kept = {};
    bool resumed = false;
    if (!LoadContents(options, chip, contents, &kept, &resumed)) {
        MemFree(contents);
        return nullptr;
    }
    gMachine.PowerUp(setup, contents);
    if (resumed && !gMachine.Resume(kept)) {
        Print(u"zar-sim: --state %a holds an EC state no EC has\n", options.StatePath);
        MemFree(contents);
        return nullptr;
    }
    SetEcModuleName(options, image);
    return contents;
}

// What watches the ports: the trace file, the decoder, or both.
struct Watchers {
    FileTrace Trace;
    SpiLogFile Log;
    SpiLogDecoder Decoder{&Log};
    TraceTee Both{&Trace, &Decoder};

    bool Open(const SimOptions& options)
    {
        if (options.TracePath && !Trace.Open(options.TracePath)) {
            Print(u"zar-sim: can't write %a\n", options.TracePath);
            return false;
        }
        if (options.SpiLogPath && !Log.Open(options.SpiLogPath)) {
            Print(u"zar-sim: can't write %a\n", options.SpiLogPath);
            return false;
        }
        if (options.TracePath && options.SpiLogPath)
            gMachine.Ec().SetTrace(&Both);
        else if (options.TracePath)
            gMachine.Ec().SetTrace(&Trace);
        else if (options.SpiLogPath)
            gMachine.Ec().SetTrace(&Decoder);
        return true;
    }

    void Close(const SimOptions& options)
    {
        gMachine.Ec().SetTrace(nullptr);
        Decoder.Finish();
        Trace.Close();
        Log.Close();
        if (Trace.Failed())
            Print(u"zar-sim: writing %a failed: the trace is incomplete\n", options.TracePath);
        if (Log.Failed())
            Print(u"zar-sim: writing %a failed: the SPI log is incomplete\n", options.SpiLogPath);
    }
};

// The flasher's run (and the rerun, if asked) on the machine, with the
// options' faults and limits in force for the first run only.
int RunFlasher(SimOptions& options, const FlasherLine& line)
{
    WaitLimits saved = CurrentWaitLimits();
    SetWaitLimits({options.WaitLimit, options.WaitLimit});
    SetReadFailOffset(options.ReadFailOffset);
    SetWriteFailAfter(options.WriteFailAfter);
    SetAllocationFailAfter(options.AllocationFailAfter);
    SetActiveEc(&gMachine.Ec());
    SetSimulatedMachine(options.MachineGiven ? &options.Machine : nullptr);
    SetSimulatedStation(options.Station);

    int status = zar::main(options.FlasherArgc, options.FlasherArgv);
    SetAllocationFailAfter(-1);
    SetWriteFailAfter(-1);
    SetReadFailOffset(-1);
    if (options.Rerun)
        status = RunAsAdvised(gMachine, options.FlasherArgc, options.FlasherArgv, status, line.Verb);

    SetSimulatedMachine(nullptr);
    SetSimulatedStation(nullptr);
    SetActiveEc(nullptr);
    SetWaitLimits(saved);
    return status;
}

// What became of the hardware, then the chip's contents to --flash-out.
void TellTheOutcome(const SimOptions& options, const FlasherLine& line, int status, const uint8_t* contents)
{
    SimEc& ec = gMachine.Ec();
    SpiNorChip& chip = gMachine.Chip();
    if (options.FlasherArgc > 1)
        Print(u"zar-sim: EC %a\n", EcStateText(ec.Mode()));
    if (options.Rerun) {
        SayHowTheRunEnded(ec, "rerun", status, line.Verb);
        Print(u"zar-sim: flash ");
        PrintFlashComparison(CompareWithImage(contents, chip.Size(), line.Image), chip.Size());
    }
    if (options.RealTiming)
        PrintTimeEstimate(ec, chip, options.AccessNs);
    if (options.Report)
        PrintReport({&ec, &chip, line.Image, line.Verb, options.RealTiming, options.AccessNs, status});
    if (options.FlashOut && !SaveFile(options.FlashOut, contents, chip.Size()))
        Print(u"zar-sim: can't write %a\n", options.FlashOut);
    AfterRun then = LastRunEnding().Then;
    if (then != AfterRun::Return)
        Print(u"zar-sim: after the run: %s (on Linux, only this line)\n",
              then == AfterRun::Reset ? u"/then reset: the machine resets" : u"/then off: the machine powers off");
}

// Everything that runs nothing: help, the chip list, a trace to decode.
// Returns true with the status when one of them was asked for.
bool RunsNothing(const SimOptions& options, int* status)
{
    *status = 0;
    if (options.Help)
        PrintHelp();
    else if (options.Version)
        PrintVersion();
    else if (options.ListChips)
        PrintChipList(options.Verbose);
    else if (!OutputsAreApart(options))
        *status = EXIT_USAGE;
    else if (options.DecodePath)
        *status = DecodeTraceFile(options.DecodePath, options.SpiLogPath);
    else
        return false;
    return true;
}

}  // namespace

FlasherLine ReadFlasherLine(const SimOptions& options)
{
    FlasherLine line;
    int first = SkipLeadingWords(Arguments(options.FlasherArgc, const_cast<char**>(options.FlasherArgv)));
    if (first >= options.FlasherArgc)
        return line;
    line.First = options.FlasherArgv[first];
    if (!IsVerb(line.First)) {
        line.Image = line.First;
        return line;
    }
    line.Verb = line.First;
    bool takesImage = VerbIs(line.Verb, "/verify") || VerbIs(line.Verb, "/update");
    if (takesImage && first + 1 < options.FlasherArgc)
        line.Image = options.FlasherArgv[first + 1];
    return line;
}

int SimMain(int argc, char* argv[])
{
    static SimOptions options;
    options = SimOptions{};
    if (!ParseSimOptions(argc, argv, &options))
        return EXIT_USAGE;
    int status = 0;
    if (RunsNothing(options, &status))
        return status;

    FlasherLine line = ReadFlasherLine(options);
    uint8_t* contents = BuildMachine(options, line.Image);
    if (contents == nullptr)
        return EXIT_USAGE;
    Watchers watchers;
    if (!watchers.Open(options)) {
        MemFree(contents);
        return EXIT_USAGE;
    }
    status = RunFlasher(options, line);
    watchers.Close(options);
    TellTheOutcome(options, line, status, contents);
    if (options.StatePath && !WriteState(options.StatePath, gMachine))
        Print(u"zar-sim: can't write %a: the next run starts afresh\n", options.StatePath);
    MemFree(contents);
    return status;
}

}  // namespace zar::sim
