// The two checks between identification and the first erase, on every road
// that writes: a chip must have answered, and it must hold the image when its
// size is known (otherwise the addresses wrap and later blocks overwrite
// earlier ones, each still verifying).
#pragma once

#include <stdint.h>

#include "Applications/Main/Arguments.h"
#include "Applications/Main/ExitStatus.h"

namespace zar {

// After FlashIdentify, with the channel alive. EXIT_OK when the run may go
// on. Otherwise it has shown the chip's ID and said why, handed the EC back
// with `closing` (0: none) while its flash is untouched, and returns the
// run's status: EXIT_NO_ANSWER when no chip answered, EXIT_BAD_IMAGE when
// imageSize bytes don't fit. An imageSize of 0 asks only whether a chip
// answered. A verb that writes nothing passes its words as looking, for the
// command that hands back an EC it leaves in follow mode.
[[nodiscard]] ExitStatus GuardChip(int32_t imageSize, uint8_t closing, const Arguments* looking = nullptr);

// "NO FLASH CHIP!!" and what it means.
void SayNoFlashChip();

}  // namespace zar
