// The two checks between identification and the first erase, on every road
// that writes: a chip must have answered, and it must hold the image when its
// size is known (otherwise the addresses wrap and later blocks overwrite
// earlier ones, each still verifying).
#pragma once

#include <stdint.h>

#include "Applications/Main/Arguments.h"
#include "Applications/Main/ExitStatus.h"
#include "Applications/Main/HandBack.h"

namespace zar {

// After FlashIdentify, with the channel alive. EXIT_OK when the run may go
// on. Otherwise it has shown the chip's ID, said why and ended the run
// through HandBackAndEnd with closing and the road's args (its flash is
// untouched: the closing rule decides whether the EC is handed back), and
// returns the run's status: EXIT_NO_ANSWER when no chip answered,
// EXIT_BAD_IMAGE when imageSize bytes don't fit (the command given then asks
// for another image). An imageSize of 0 asks only whether a chip answered.
[[nodiscard]] ExitStatus GuardChip(int32_t imageSize, uint8_t closing, const Arguments& args, Road road);

// "NO FLASH CHIP!!" and what it means.
void SayNoFlashChip();

}  // namespace zar
