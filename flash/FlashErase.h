#pragma once

#include <stdint.h>

#include "flash/FlashPrimitives.h"

namespace zar {

constexpr uint32_t ERASE_STEP = 0x1000;

// Erases the 4 KiB steps holding address .. address + count - 1, one erase
// command at the start of each step, a mark per step. ST's M25P parts have
// no 4 KiB erase: their BLOCK_ERASE, sent at each step's address, erases the
// whole 64 KiB block around it.
[[nodiscard]] FlashResult FlashErase(const FlashChip& chip, uint32_t address, uint32_t count);
// The opcode FlashErase sends at each step.
uint8_t EraseStepOpcode(const FlashChip& chip);

// One BLOCK_ERASE (0xD8) of the 64 KiB block holding address, with its
// progress line and one mark; for parts whose part table row lists it.
[[nodiscard]] FlashResult FlashEraseBlock(const FlashChip& chip, uint32_t address);

// Reads count bytes from address in one FAST_READ and checks every one is
// 0xFF; stops at the first that is not (Differs, Bytes its offset, Found
// the byte).
[[nodiscard]] FlashResult FlashBlankCheck(uint32_t address, uint32_t count);

}  // namespace zar
