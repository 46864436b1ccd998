// zar-sim: the flasher run against a simulated EC and flash chip. Shared by
// the hosted zar-sim and the UEFI zar-sim.efi.
//
//   zar-sim [options] [--] IMAGE [ARGS...]
//
// calls the flasher's main with argv = zar, IMAGE, ARGS...; without IMAGE,
// main gets argc 1. The exit status is main's, or EXIT_USAGE for a bad option.
#pragma once

#include <stdint.h>

#include "sim/ChipCatalog.h"
#include "sim/SimEc.h"
#include "sim/SpiNorChip.h"

namespace zar::sim {

constexpr int EXIT_USAGE = 64;

struct SimOptions {
    const char* TracePath = nullptr;
    const char* EcModule = nullptr;  // nullptr: the image's own name
    const ChipInfo* Chip = nullptr;  // nullptr: DefaultChip()
    const char* FlashIn = nullptr;
    const char* FlashOut = nullptr;
    bool Help = false;
    bool ListChips = false;

    EcConfig Ec;
    ChipConfig ChipSetup;
    bool ChipAbsent = false;
    int32_t ReadFailOffset = -1;
    int32_t AllocationFailAfter = -1;
    uint32_t WaitLimit = 0;  // 0: the flasher's defaults

    // What the flasher gets: argv[0] = "zar", then the image and its switches.
    int FlasherArgc = 1;
    char* FlasherArgv[64] = {};
};

// Parses argv into options. False (after printing a one-line error naming the
// culprit) on an unknown option, a missing or bad value.
bool ParseSimOptions(int argc, char* argv[], SimOptions* options);

// The whole front end: parse, set up, run, report. Returns the exit status.
int SimMain(int argc, char* argv[]);

}  // namespace zar::sim
