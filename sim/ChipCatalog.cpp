#include "sim/ChipCatalog.h"

namespace zar::sim {
namespace {

// Times are in microseconds. A status write time of 0 means the datasheet
// gives none: the register is volatile and written at once.
constexpr ChipInfo CATALOG[] = {
    {
        .Part = &parts::W25X40,
        .Datasheet = "Winbond W25X10/W25X20/W25X40/W25X80, revision N (May 2008)",
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false,
        .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 150000, .SectorEraseMaxUs = 300000,
        .BlockEraseTypUs = 1000000, .BlockEraseMaxUs = 2000000,
        .ProgramTypUs = 1500, .ProgramMaxUs = 3000,
        .StatusWriteTypUs = 10000, .StatusWriteMaxUs = 15000,
        .FitsAlgorithms = true,
        .Note = "",
        .ProtectBits = 0x1C,
        .HasEwsr = false,
    },
    {
        .Part = &parts::W25Q80BV,
        .Datasheet = "Winbond W25Q80BV",
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false,
        .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 30000, .SectorEraseMaxUs = 400000,
        .BlockEraseTypUs = 150000, .BlockEraseMaxUs = 1000000,
        .ProgramTypUs = 700, .ProgramMaxUs = 3000,
        .StatusWriteTypUs = 10000, .StatusWriteMaxUs = 15000,
        .FitsAlgorithms = true,
        .Note = "0x50 enables a volatile status write without WEL",
        .ProtectBits = 0x1C,
        .HasEwsr = true,
    },
    {
        .Part = &parts::SST25VF080B,
        .Datasheet = "SST25VF080B, SST/Microchip DS25045A (09/2011)",
        .Method = ProgramMethod::AaiWord,
        .PowerUpProtected = true,
        .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 18000, .SectorEraseMaxUs = 25000,
        .BlockEraseTypUs = 18000, .BlockEraseMaxUs = 25000,
        .ProgramTypUs = 7, .ProgramMaxUs = 10,
        .StatusWriteTypUs = 0, .StatusWriteMaxUs = 0,
        .FitsAlgorithms = true,
        .Note = "AAI word programming (0xAD) only; WRSR after EWSR or WREN; 0x02 writes one byte",
        .ProtectBits = 0x3C,
        .HasEwsr = true,
    },
    {
        .Part = &parts::SST25LF040A,
        .Datasheet = "SST25LF020A/SST25LF040A, SST",
        .Method = ProgramMethod::AaiByte,
        .PowerUpProtected = true,
        .WrsrNeedsEwsr = true,
        .SectorEraseTypUs = 18000, .SectorEraseMaxUs = 25000,
        .BlockEraseTypUs = 0, .BlockEraseMaxUs = 0,
        .ProgramTypUs = 14, .ProgramMaxUs = 20,
        .StatusWriteTypUs = 0, .StatusWriteMaxUs = 0,
        .FitsAlgorithms = true,
        .Note = "no RDID, identified by RES; AAI byte programming (0xAF); 32 KiB erase is 0x52, not 0xD8",
        .ProtectBits = 0x0C,
        .HasEwsr = true,
    },
    {
        .Part = &parts::SST25VF512,
        .Datasheet = "SST25VF512, SST/Microchip DS25076A (10/2011)",
        .Method = ProgramMethod::AaiByte,
        .PowerUpProtected = true,
        .WrsrNeedsEwsr = true,
        .SectorEraseTypUs = 18000, .SectorEraseMaxUs = 25000,
        .BlockEraseTypUs = 0, .BlockEraseMaxUs = 0,
        .ProgramTypUs = 14, .ProgramMaxUs = 20,
        .StatusWriteTypUs = 0, .StatusWriteMaxUs = 0,
        .FitsAlgorithms = true,
        .Note = "64 KiB: images past one block wrap onto it; no RDID, RES answers BF 48 BF 48",
        .ProtectBits = 0x0C,
        .HasEwsr = true,
    },
    {
        .Part = &parts::AT25DF041A,
        .Datasheet = "Atmel AT25DF041A, 3668F-DFLASH-11/2013",
        .Method = ProgramMethod::Page,
        .PowerUpProtected = true,
        .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 50000, .SectorEraseMaxUs = 200000,
        .BlockEraseTypUs = 400000, .BlockEraseMaxUs = 950000,
        .ProgramTypUs = 1200, .ProgramMaxUs = 5000,
        .StatusWriteTypUs = 0, .StatusWriteMaxUs = 0,
        .FitsAlgorithms = true,
        .Note = "Atmel's code is 0x1F; the flasher's 0x9F has even parity, so no part answers it. "
                "Sectors power up protected; WRSR 0x00 is the global unprotect. 0xAB only wakes it (no ID)",
        .ProtectBits = 0x0C,
        .HasEwsr = false,
    },
    {
        .Part = &parts::M25P40,
        .Datasheet = "Numonyx M25P40, revision 15 (December 2007)",
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false,
        .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 0, .SectorEraseMaxUs = 0,
        .BlockEraseTypUs = 1000000, .BlockEraseMaxUs = 3000000,
        .ProgramTypUs = 1500, .ProgramMaxUs = 5000,
        .StatusWriteTypUs = 5000, .StatusWriteMaxUs = 15000,
        .FitsAlgorithms = true,
        .Note = "no 4 KiB erase; 0xD8 erases its 64 KiB sector",
        .ProtectBits = 0x1C,
        .HasEwsr = false,
    },
    {
        .Part = &parts::S25FL204K,
        .Datasheet = "Spansion S25FL204K",
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false,
        .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 30000, .SectorEraseMaxUs = 200000,
        .BlockEraseTypUs = 150000, .BlockEraseMaxUs = 1000000,
        .ProgramTypUs = 700, .ProgramMaxUs = 3000,
        .StatusWriteTypUs = 10000, .StatusWriteMaxUs = 15000,
        .FitsAlgorithms = true,
        .Note = "",
        .ProtectBits = 0x1C,
        .HasEwsr = false,
    },
    {
        .Part = &parts::S25FL004A,
        .Datasheet = "Spansion S25FL004A, revision B amendment 3 (July 2007)",
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false,
        .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 0, .SectorEraseMaxUs = 0,
        .BlockEraseTypUs = 500000, .BlockEraseMaxUs = 3000000,
        .ProgramTypUs = 1500, .ProgramMaxUs = 3000,
        .StatusWriteTypUs = 5000, .StatusWriteMaxUs = 15000,
        .FitsAlgorithms = false,
        .Note = "only 64 KiB sectors (0xD8): the flasher's 0x20 erases nothing, so the blank check fails",
        .ProtectBits = 0x0C,
        .HasEwsr = false,
    },
    {
        .Part = &parts::MX25L4005A,
        .Datasheet = "Macronix MX25L4005A (family times as KH25L8005, PM1307 rev. 1.1)",
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false,
        .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 60000, .SectorEraseMaxUs = 120000,
        .BlockEraseTypUs = 1000000, .BlockEraseMaxUs = 2000000,
        .ProgramTypUs = 1400, .ProgramMaxUs = 5000,
        .StatusWriteTypUs = 5000, .StatusWriteMaxUs = 30000,
        .FitsAlgorithms = true,
        .Note = "",
        .ProtectBits = 0x1C,
        .HasEwsr = false,
    },
    {
        .Part = &parts::MX25L512,
        .Datasheet = "Macronix MX25L512 (family times as KH25L8005, PM1307 rev. 1.1)",
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false,
        .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 60000, .SectorEraseMaxUs = 120000,
        .BlockEraseTypUs = 1000000, .BlockEraseMaxUs = 2000000,
        .ProgramTypUs = 1400, .ProgramMaxUs = 5000,
        .StatusWriteTypUs = 5000, .StatusWriteMaxUs = 30000,
        .FitsAlgorithms = true,
        .Note = "64 KiB with 256-byte pages; the flasher writes it in 32-byte page programs",
        .ProtectBits = 0x0C,
        .HasEwsr = false,
    },
    {
        .Part = &parts::A25L010A,
        .Datasheet = "AMIC A25L010A series, version 1.5 (November 2014)",
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false,
        .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 200000, .SectorEraseMaxUs = 300000,
        .BlockEraseTypUs = 500000, .BlockEraseMaxUs = 2000000,
        .ProgramTypUs = 2000, .ProgramMaxUs = 5000,
        .StatusWriteTypUs = 5000, .StatusWriteMaxUs = 15000,
        .FitsAlgorithms = true,
        .Note = "",
        .ProtectBits = 0x1C,
        .HasEwsr = false,
    },
    {
        .Part = &parts::EN25F40A,
        .Datasheet = "Eon EN25F40A",
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false,
        .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 30000, .SectorEraseMaxUs = 300000,
        .BlockEraseTypUs = 200000, .BlockEraseMaxUs = 2000000,
        .ProgramTypUs = 800, .ProgramMaxUs = 5000,
        .StatusWriteTypUs = 10000, .StatusWriteMaxUs = 15000,
        .FitsAlgorithms = true,
        .Note = "",
        .ProtectBits = 0x3C,
        .HasEwsr = false,
    },
    {
        .Part = &parts::F25L32PA,
        .Datasheet = "ESMT F25L32PA (family times as F25L01PA, revision 1.3, April 2013)",
        .Method = ProgramMethod::Page,
        .PowerUpProtected = true,
        .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 90000, .SectorEraseMaxUs = 300000,
        .BlockEraseTypUs = 750000, .BlockEraseMaxUs = 2000000,
        .ProgramTypUs = 1500, .ProgramMaxUs = 5000,
        .StatusWriteTypUs = 0, .StatusWriteMaxUs = 0,
        .FitsAlgorithms = true,
        .Note = "powers up with every block protected; WRSR after EWSR or WREN",
        .ProtectBits = 0x1C,
        .HasEwsr = true,
    },
    {
        .Part = &parts::F25L008A,
        .Datasheet = "ESMT F25L008A, revision 1.6 (July 2008)",
        .Method = ProgramMethod::AaiWord,
        .PowerUpProtected = true,
        .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 90000, .SectorEraseMaxUs = 200000,
        .BlockEraseTypUs = 1000000, .BlockEraseMaxUs = 2000000,
        .ProgramTypUs = 7, .ProgramMaxUs = 10,
        .StatusWriteTypUs = 0, .StatusWriteMaxUs = 0,
        .FitsAlgorithms = false,
        .Note = "SST-style: 0x02 programs one byte per command, so the flasher's 256-byte pages "
                "leave all but their first byte unwritten",
        .ProtectBits = 0x1C,
        .HasEwsr = true,
    },
    {
        .Part = &parts::PM25LD040,
        .Datasheet = "PMC Pm25LD512/010/020/040",
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false,
        .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 40000, .SectorEraseMaxUs = 100000,
        .BlockEraseTypUs = 80000, .BlockEraseMaxUs = 200000,
        .ProgramTypUs = 1000, .ProgramMaxUs = 5000,
        .StatusWriteTypUs = 10000, .StatusWriteMaxUs = 15000,
        .FitsAlgorithms = true,
        .Note = "PMC is in JEDEC bank 2: RDID starts with the continuation code 0x7F",
        .ProtectBits = 0x1C,
        .HasEwsr = false,
    },
    {
        .Part = &parts::PM25LV040,
        .Datasheet = "PMC Pm25LV512/010/020/040",
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false,
        .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 0, .SectorEraseMaxUs = 0,
        .BlockEraseTypUs = 80000, .BlockEraseMaxUs = 200000,
        .ProgramTypUs = 1000, .ProgramMaxUs = 5000,
        .StatusWriteTypUs = 10000, .StatusWriteMaxUs = 15000,
        .FitsAlgorithms = false,
        .Note = "4 KiB sectors erase with 0xD7, not 0x20: the blank check fails. Same ID as PM25LD040",
        .ProtectBits = 0x1C,
        .HasEwsr = false,
    },
    {
        .Part = &parts::GD25Q40,
        .Datasheet = "GigaDevice GD25Q40",
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false,
        .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 50000, .SectorEraseMaxUs = 300000,
        .BlockEraseTypUs = 200000, .BlockEraseMaxUs = 1200000,
        .ProgramTypUs = 700, .ProgramMaxUs = 2400,
        .StatusWriteTypUs = 5000, .StatusWriteMaxUs = 30000,
        .FitsAlgorithms = true,
        .Note = "maker not in the flasher's table: no vendor line, written like any page part",
        .ProtectBits = 0x1C,
        .HasEwsr = true,
    },
};

constexpr int COUNT = static_cast<int>(sizeof CATALOG / sizeof CATALOG[0]);

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

int ChipCount()
{
    return COUNT;
}

const ChipInfo& ChipAt(int index)
{
    // Out of range gives the default part rather than memory past the table.
    return index >= 0 && index < COUNT ? CATALOG[index] : CATALOG[0];
}

const ChipInfo* FindChip(const char* name)
{
    if (name == nullptr)
        return nullptr;
    for (const ChipInfo& chip : CATALOG) {
        const char* a = chip.Part->Name;
        const char* b = name;
        while (*a && Lower(*a) == Lower(*b)) {
            ++a;
            ++b;
        }
        if (*a == '\0' && *b == '\0')
            return &chip;
    }
    return nullptr;
}

const ChipInfo& DefaultChip()
{
    return CATALOG[0];
}

}  // namespace zar::sim
