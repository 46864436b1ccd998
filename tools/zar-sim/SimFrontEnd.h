// zar-sim: the flasher run against a simulated EC and flash chip. Shared by
// the hosted zar-sim and the UEFI zar-sim.efi.
//
//   zar-sim [options] [--] IMAGE [ARGS...]
//
// calls the flasher's main with argv = zar, IMAGE, ARGS...; without IMAGE,
// main gets argc 1. The exit status is main's, or EXIT_USAGE for a bad option.
#pragma once

#include <stdint.h>

#include "platform/Machine.h"
#include "sim/ChipCatalog.h"
#include "sim/SimEc.h"
#include "sim/SpiNorChip.h"

namespace zar::sim {

constexpr int EXIT_USAGE = 64;
constexpr int EXIT_BAD_TRACE = 65;  // --decode: the trace has lines that are not port accesses

// Real timing on an LPC bus: an I/O cycle takes about a microsecond, and the
// EC's firmware takes a byte or answers a couple of microseconds after it.
constexpr uint32_t DEFAULT_ACCESS_NS = 1000;
constexpr uint32_t DEFAULT_EC_RESPONSE_NS = 2000;
// The bounds of those options. ACPI 6.4, 12.3.3 gives an EC in burst mode
// 400 us for the first access and 1 ms for the whole burst: no EC that
// serves a host interface takes longer per byte. An access below 100 ns is
// faster than any LPC or eSPI I/O cycle, and together the bounds keep a
// wait at most 10,000 status reads, so a run stays minutes, not hours.
constexpr uint32_t MIN_ACCESS_NS = 100;
constexpr uint32_t MAX_ACCESS_NS = 1000000000;
constexpr uint32_t MAX_EC_RESPONSE_NS = 1000000;

// Why an input file can't be read, for the messages that say so.
inline constexpr const char* CANT_READ_WHY = "missing, unreadable, or not a regular file";

struct SimOptions {
    const char* TracePath = nullptr;
    const char* SpiLogPath = nullptr;
    const char* DecodePath = nullptr;  // decode this trace instead of a run
    bool Report = false;
    const char* EcModule = nullptr;  // nullptr: the image's own name
    const ChipInfo* Chip = nullptr;  // nullptr: DefaultChip()
    const char* FlashIn = nullptr;
    const char* FlashOut = nullptr;
    bool Help = false;
    bool ListChips = false;
    bool Verbose = false;  // --list-chips with each part's sources
    bool MachineGiven = false;  // --machine: the identity the run's record shows
    MachineIdentity Machine = {};

    EcConfig Ec;
    ChipConfig ChipSetup;
    uint32_t ChipSize = 0;  // 0: the part's own
    bool RealTiming = false;
    uint32_t AccessNs = DEFAULT_ACCESS_NS;
    uint32_t EcResponseNs = DEFAULT_EC_RESPONSE_NS;
    bool TimesGiven = false;    // --access-ns or --ec-response-ns
    bool LatencyGiven = false;  // --ec-latency
    bool BusyGiven = false;     // --chip-busy
    bool ChipAbsent = false;
    int32_t ReadFailOffset = -1;
    int32_t AllocationFailAfter = -1;
    uint32_t WaitLimit = 0;  // 0: the flasher's defaults
    bool Rerun = false;      // then run again as the console said, faults cleared

    // What the flasher gets: argv[0] = "zar", then the image and its switches.
    int FlasherArgc = 1;
    char* FlasherArgv[64] = {};
};

// Parses argv into options. False (after printing a one-line error naming the
// culprit) on an unknown option, a missing or bad value, or options that don't
// go together. Real timing is turned into Ec and ChipSetup here.
bool ParseSimOptions(int argc, char* argv[], SimOptions* options);

// The whole front end: parse, set up, run, report. Returns the exit status.
int SimMain(int argc, char* argv[]);

// The chip's contents when no --flash-in is given: neither 0x00 nor 0xFF, and
// different from address to address, so that a missing erase shows.
void FillPattern(uint8_t* contents, uint32_t size);

// --ec-foreign's word for it: "ignore", "subcommand", "serve", "leave".
const char* ForeignByteName(ForeignByte how);

// The command line of the run the flasher's last run told the user to make:
// argv with p as its second word when it advised skipping the module check,
// else argv itself. out has room for argc + 1 words; returns the count.
int RerunCommandLine(int argc, char* argv[], char* out[]);

}  // namespace zar::sim
