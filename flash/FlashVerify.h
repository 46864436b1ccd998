#pragma once

#include <stdint.h>

namespace zar {

// Reads the block back, adds every byte read into Checksum and compares it
// with the image up to the image's end. False at the first difference.
[[nodiscard]] bool FlashVerifyBlock(uint8_t block);

}  // namespace zar
