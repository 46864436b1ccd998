#pragma once

#include <stdint.h>

#include "flash/FlashPrimitives.h"

namespace zar {

// Each writes count bytes of data from address on; the range must be erased
// first. Bytes is what was sent before the end or the channel's death.

// Page programs of up to a page each (none crosses a page's end), a mark
// every 16 pages.
[[nodiscard]] FlashResult FlashProgramPages(const FlashChip& chip, uint32_t address, const uint8_t* data,
                                            uint32_t count);
// The same with each page sent as programs of up to 32 bytes, for the MXIC
// parts that need it; one wait per page, a mark every 12 pages.
[[nodiscard]] FlashResult FlashProgramChunked(const FlashChip& chip, uint32_t address, const uint8_t* data,
                                              uint32_t count);
// SST auto-address-increment: one byte, or two bytes, per command, 11 marks
// per 32 KiB. The word form takes an even address and count.
[[nodiscard]] FlashResult FlashProgramAaiByte(const FlashChip& chip, uint32_t address, const uint8_t* data,
                                              uint32_t count);
[[nodiscard]] FlashResult FlashProgramAaiWord(const FlashChip& chip, uint32_t address, const uint8_t* data,
                                              uint32_t count);

}  // namespace zar
