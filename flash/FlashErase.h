#pragma once

#include <stdint.h>

namespace zar {

constexpr uint8_t SECTORS_PER_BLOCK = 16;

// Erases count 4 KiB steps from the start of the block, stopping at the end
// of the image.
void FlashEraseSectors(uint8_t block, uint8_t count);

// Reads the block back in one FAST_READ and checks every image byte is 0xFF.
[[nodiscard]] bool FlashBlankCheck(uint8_t block);

}  // namespace zar
