// zar-sim: the flasher run against a simulated EC and flash chip. Shared by
// the hosted zar-sim and the UEFI zar-sim.efi.
//
//   zar-sim [options] [--] IMAGE [ARGS...]
//
// calls the flasher's main with argv = zar, IMAGE, ARGS...; without IMAGE,
// main gets argc 1. The exit status is main's, or EXIT_USAGE for a bad option.
#pragma once

#include <stdint.h>

#include "sim/SimMachine.h"
#include "tools/zar-sim/SimOptions.h"
#include "tools/zar-sim/SimRerun.h"

namespace zar::sim {

// Why an input file can't be read, for the messages that say so.
inline constexpr const char* CANT_READ_WHY = "missing, unreadable, or not a regular file";

// The whole front end: parse, set up, run, report. Returns the exit status.
int SimMain(int argc, char* argv[]);

// The flasher's line as main reads it: a leading "/log FILE" taken off, then
// a verb or the classic line's image.
struct FlasherLine {
    const char* First = nullptr;  // the first word after "/log FILE"
    const char* Verb = nullptr;
    const char* Image = nullptr;  // what the run writes or compares, if anything
};
FlasherLine ReadFlasherLine(const SimOptions& options);

// An output that is an input (or another output) would be cut to nothing
// before the run reads it, or written twice over. False after saying which.
bool OutputsAreApart(const SimOptions& options);

}  // namespace zar::sim
