// zar-sim --list-chips: one line per simulated part; with --verbose, each
// part's documents and the values they do not confirm as well.
#pragma once

namespace zar::sim {

void PrintChipList(bool verbose);

}  // namespace zar::sim
