// zar-sim's options: what they set, and the one table that the parser, --help
// and the man page (tools/zar-sim.1, checked against --help by the CLI test)
// all follow.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "Applications/Main/ExitStatus.h"
#include "platform/Machine.h"
#include "sim/ChipCatalog.h"
#include "sim/SimEc.h"
#include "sim/SpiNorChip.h"

namespace zar::sim {

using zar::EXIT_BAD_TRACE;
using zar::EXIT_USAGE;

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
    bool Version = false;
    bool ListChips = false;
    const char* StatePath = nullptr;  // --state: the machine kept in FILE between runs
    bool Verbose = false;  // --list-chips with each part's sources
    bool MachineGiven = false;  // --machine: the identity the run's record shows
    MachineIdentity Machine = {};
    const char* Station = nullptr;  // --station: the station the run's record names

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
    int32_t WriteFailAfter = -1;  // bytes the flasher's files may take
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

void PrintHelp();
// The flasher's version and zar-sim's.
void PrintVersion();

// zar-sim's own version: its options, faults and simulated parts. The
// flasher's is ZAR_VERSION (Applications/Main/Version.h).
constexpr char ZAR_SIM_VERSION[] = "1.1.0";

// --fault NAME[=VALUE]: false when the name or its value is not one of ours.
bool ParseFault(const char* text, SimOptions* options);
void PrintFaultHelp();

// --ec-foreign's word for it: "ignore", "subcommand", "serve", "leave".
const char* ForeignByteName(ForeignByte how);

}  // namespace zar::sim
