#include "platform/Crc32.h"

namespace zar {
namespace {

struct CrcTable {
    uint32_t Entry[256];
    constexpr CrcTable() : Entry()
    {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            Entry[n] = c;
        }
    }
};

constexpr CrcTable TABLE;

}  // namespace

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t length)
{
    crc = ~crc;
    for (size_t i = 0; i < length; ++i)
        crc = TABLE.Entry[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

}  // namespace zar
