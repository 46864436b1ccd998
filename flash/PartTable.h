// What the flasher knows of real SPI NOR parts: how each identifies itself,
// its size, page and erase units. The one place these values live; the
// simulator's catalog adds behaviour and timings to the same rows.
#pragma once

#include <stdint.h>

namespace zar {

struct FlashPart {
    const char* Name;          // e.g. "W25X40"
    uint8_t Rdid[3];           // JEDEC RDID (0x9F): maker, memory type, capacity
    bool AnswersRdid;          // false: RDID reads 00, only RES (0xAB) identifies it
    uint8_t ResId[2];          // what RES answers, repeating
    uint32_t Size;             // bytes
    uint16_t PageSize;         // bytes; 0 when the part has no page program
    uint32_t SectorEraseUnit;  // bytes erased by SECTOR_ERASE (0x20); 0: not supported
    uint32_t BlockEraseUnit;   // bytes erased by BLOCK_ERASE (0xD8); 0: not supported
};

int FlashPartCount();
const FlashPart& FlashPartAt(int index);

// The rows by name, for tables that add to them (the simulator's catalog).
namespace parts {
extern const FlashPart W25X40, W25Q80BV, W25X20, W25Q16DV, W25Q32FV, W25Q64FV, W25Q128FV, SST25VF080B, SST25LF040A,
    SST25VF512, SST25VF040B, SST25VF016B, SST25VF032B, AT25DF041A, M25P40, S25FL204K, S25FL004A, S25FL116K, MX25L4005A,
    MX25L512, MX25L2005C, MX25L8005, MX25L1606E, MX25L12835F, A25L010A, EN25F40A, EN25Q16, F25L32PA, F25L008A,
    PM25LD040, PM25LV040, PM25LD020, GD25Q40, GD25Q32B, IS25LP016;
}

// Parts that answer alike (PM25LD040 and PM25LV040) share one ID; the table
// gives the first of them. This is the next row after part with part's ID,
// or nullptr, so a caller can name every part the chip may be.
const FlashPart* NextPartWithSameId(const FlashPart& part);

// What a chip's identification bytes tell.
struct ChipIdentity {
    bool Answered;           // false: no chip answered (all 0xFF, or 00/FF on the RES road)
    const FlashPart* Part;   // nullptr when no row matches
    uint32_t Size;           // bytes; 0 when unknown
    const char* Maker;       // the vendor table's name, nullptr when the maker is not in it
};

// id: the four bytes FlashIdentify read (FlashChip::Id); byRes: they came from RES
// because RDID answered 00. A part not in the table whose maker is in the
// vendor table and whose third RDID byte is 0x10 to 0x18 has 2^that bytes.
ChipIdentity IdentifyPart(const uint8_t id[4], bool byRes);

}  // namespace zar
