// Write protection, found before anything is erased: the status register as
// the unprotect's own wait read it back (no read of its own on a chip that
// unprotects), and parts the part table says a command can't write. A
// protected chip is named ("WRITE PROTECTED!!" with the status register and
// what holds it), nothing is erased, the run ends with EXIT_WRITE_PROTECTED,
// and the advice names what must change first: no rerun of the same command
// can get further on its own.
#pragma once

#include <stdint.h>

#include "Applications/Main/Arguments.h"

namespace zar {

// After the first unprotect, with the channel alive: true when the protect
// bits cleared. Otherwise notes what holds them, says so, and returns false.
[[nodiscard]] bool ProtectionCleared(uint8_t status);

// Before the first erase: true when the chip can be written with
// eraseOpcode (and the flasher's programming). Otherwise reads the status
// register once, says why not, notes it, and returns false. classicLine:
// the command is the classic one, and the advice may send it to /update.
[[nodiscard]] bool PartWritableWith(uint8_t eraseOpcode, bool classicLine);

bool ProtectionHeld();

// The advice of a run that met protection, given by the way out in place of
// the rerun's. handedBack: the EC is getting its closing command.
void AdviseAfterProtection(const Arguments& args, bool handedBack);

}  // namespace zar
