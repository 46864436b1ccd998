// The flasher's entry and its exit statuses.
#pragma once

#include "Applications/Main/ExitStatus.h"

namespace zar {

// argv[0] is the program's name, argv[1] the image, then the switches.
// Entries at argc and beyond are never read.
int main(int argc, char* argv[]);

// True when the last run ended with EXIT_BAD_IMAGE because memory ran out.
bool LastRunOutOfMemory();

}  // namespace zar
