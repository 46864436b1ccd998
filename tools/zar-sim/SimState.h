// zar-sim --state FILE: the simulated machine kept in FILE between runs, as
// zar-sim.efi needs it across the host's restarts (the factory script's
// rerun after a run cut short): the part and the chip's contents, the chip's
// status register and AAI mode, and the EC's mode and where it stands in a
// command (sim/SimMachine.h, Kept).
#pragma once

#include <stdint.h>

#include "sim/SimMachine.h"

namespace zar::sim {

enum class StateRead {
    Missing,  // no FILE yet: the machine starts afresh
    Read,     // contents and *kept are FILE's
    Refused,  // said why: not a state, or another part's
};

// FILE's contents into contents (the part's size) and its kept values into
// *kept, when FILE holds a state of this part.
StateRead ReadState(const char* path, const ChipInfo& chip, uint8_t* contents, SimMachine::Kept* kept);

// The machine as the run left it, once time let it settle, into FILE
// (replaced whole). False when FILE could not be written.
bool WriteState(const char* path, SimMachine& machine);

}  // namespace zar::sim
