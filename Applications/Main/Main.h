// The flasher's entry and its exit statuses.
#pragma once

#include "Applications/Main/ExitStatus.h"
#include "platform/RunEnding.h"

namespace zar {

// argv[0] is the program's name, argv[1] the image, then the switches.
// Entries at argc and beyond are never read.
int main(int argc, char* argv[]);

// True when the last run ended with EXIT_BAD_IMAGE because memory ran out.
bool LastRunOutOfMemory();

// What the last run's "/wait" and "/then" asked of its end, "/then" kept
// only after a run that ended well (Main.cpp, SettleTheEnding).
RunEnding LastRunEnding();

}  // namespace zar
