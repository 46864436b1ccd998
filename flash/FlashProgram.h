#pragma once

#include <stdint.h>

namespace zar {

// 256 page programs of up to 256 bytes; stops at the end of the image.
void FlashProgramPages(uint8_t block);
// Each page as 8 programs of 32 bytes, for the MXIC parts that need it;
// always the whole block.
void FlashProgramChunked(uint8_t block);
// SST auto-address-increment: one byte, or two bytes, per command; always
// the whole block.
void FlashProgramAaiByte(uint8_t block);
void FlashProgramAaiWord(uint8_t block);

// The image data of page p (0-255) of the current block.
const uint8_t* PageData(int32_t page);

}  // namespace zar
