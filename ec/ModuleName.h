// Where an EC firmware keeps its module name: 32 bytes of text at offset 0x50
// of the image, and the running EC's copy at 0x0880-0x089F of its memory
// (read with EC_CMD_READ_MEMORY, high byte then low byte of the address).
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace zar {

constexpr size_t MODULE_NAME_LENGTH = 32;
constexpr int32_t MODULE_NAME_OFFSET = 0x50;      // in the image
constexpr uint16_t EC_MODULE_NAME_ADDRESS = 0x0880;
constexpr uint8_t EC_MODULE_NAME_HIGH = EC_MODULE_NAME_ADDRESS >> 8;
constexpr uint8_t EC_MODULE_NAME_LOW = EC_MODULE_NAME_ADDRESS & 0xFF;

}  // namespace zar
