#pragma once

#include <stdint.h>

#include "flash/FlashPrimitives.h"

namespace zar {

// Reads count bytes from address back in one FAST_READ, adding each into Sum,
// and compares them with expected; stops at the first difference (Differs,
// Bytes counting the differing byte, which is in Sum too, and Found).
[[nodiscard]] FlashResult FlashVerify(uint32_t address, const uint8_t* expected, uint32_t count);

}  // namespace zar
