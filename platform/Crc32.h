// CRC-32 as zlib, PNG and crc32(1) compute it: IEEE 802.3, reflected
// polynomial 0xEDB88320, initial and final value 0xFFFFFFFF.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace zar {

// Continues crc (0 to start) over length bytes: Crc32(Crc32(0, a), b) is the
// CRC of a followed by b.
uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t length);

}  // namespace zar
