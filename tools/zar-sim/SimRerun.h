// zar-sim --rerun: the run the console told the user to make, against the EC
// and chip as the first run left them.
#pragma once

#include "sim/SimMachine.h"

namespace zar::sim {

// The command line of the run the flasher's last run told the user to make:
// argv with p as the image's next word when it advised skipping the module
// check, or argv as changed (RerunAdvice::ChangedCommand); each without
// "/backup FILE" once that file was written, and with "/update" before the
// classic image when the advice sent it there; else argv itself. out has
// room for argc + 2 words; returns the count.
int RerunCommandLine(int argc, char* argv[], char* out[]);

// Says how the first run ended (firstStatus), clears the faults and runs the
// flasher again as its console advised. Returns the second run's status.
int RunAsAdvised(SimMachine& machine, int argc, char* argv[], int firstStatus, const char* verb);

// "zar-sim: NAME: status N, what it means", by the EC's state now.
void SayHowTheRunEnded(SimEc& ec, const char* run, int status, const char* verb);

}  // namespace zar::sim
