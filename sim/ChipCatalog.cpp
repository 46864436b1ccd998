#include "sim/ChipCatalog.h"

namespace zar::sim {
namespace {

// The structure of every part (identification, size, page, erase units,
// program method, status-write enables) was checked against the chip database
// named here; each entry names the makers' documents for the rest.
#define CHIP_DATABASE "flashrom chip database (v1.8.0-rc1)"

// Times are in microseconds. A status write time of 0 means the datasheet
// gives none: the register is volatile and written at once. Where a comment
// says a part's values stand in for another's, they are marked unverified.
constexpr ChipInfo CATALOG[] = {
    {
        .Part = &parts::W25X40,
        .Sources = "Winbond W25X10/W25X20/W25X40/W25X80 rev. N (May 2008), title page only; " CHIP_DATABASE,
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 150000, .SectorEraseMaxUs = 300000,
        .BlockEraseTypUs = 1000000, .BlockEraseMaxUs = 2000000,
        .ProgramTypUs = 1500, .ProgramMaxUs = 3000,
        .StatusWriteTypUs = 10000, .StatusWriteMaxUs = 15000,
        .FitsAlgorithms = true,
        .Note = "",
        .ProtectBits = 0x1C, .HasEwsr = false, .ResContinuation = 0x00,
        .Unverified = field::RES | field::POWER_UP | field::TIMES,
        .Borrowed = 0,
    },
    // The W25Q80BV sheet itself was not reached: its DV revision's values.
    {
        .Part = &parts::W25Q80BV,
        .Sources = "Winbond W25Q80DV (May 2021), a later revision with the same ID; " CHIP_DATABASE,
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 45000, .SectorEraseMaxUs = 300000,
        .BlockEraseTypUs = 150000, .BlockEraseMaxUs = 1000000,
        .ProgramTypUs = 800, .ProgramMaxUs = 3000,
        .StatusWriteTypUs = 10000, .StatusWriteMaxUs = 15000,
        .FitsAlgorithms = true,
        .Note = "0x50 enables a volatile status write without WEL",
        .ProtectBits = 0x1C, .HasEwsr = true, .ResContinuation = 0x00,
        .Unverified = 0,
        .Borrowed = field::RES | field::POWER_UP | field::TIMES,
    },
    // Same sheet as the W25X40: its values.
    {
        .Part = &parts::W25X20,
        .Sources = "Winbond W25X10/W25X20/W25X40/W25X80 rev. N (May 2008), title page only; " CHIP_DATABASE,
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 150000, .SectorEraseMaxUs = 300000,
        .BlockEraseTypUs = 1000000, .BlockEraseMaxUs = 2000000,
        .ProgramTypUs = 1500, .ProgramMaxUs = 3000,
        .StatusWriteTypUs = 10000, .StatusWriteMaxUs = 15000,
        .FitsAlgorithms = true,
        .Note = "",
        .ProtectBits = 0x1C, .HasEwsr = false, .ResContinuation = 0x00,
        .Unverified = field::RES | field::POWER_UP | field::PROTECT_BITS | field::TIMES,
        .Borrowed = 0,
    },
    // 4 KiB erase max: 200 ms, 400 ms after 50K cycles; the larger is taken.
    {
        .Part = &parts::W25Q16DV,
        .Sources = "Winbond W25Q16DV rev. K (May 2016); " CHIP_DATABASE,
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 60000, .SectorEraseMaxUs = 400000,
        .BlockEraseTypUs = 180000, .BlockEraseMaxUs = 1000000,
        .ProgramTypUs = 700, .ProgramMaxUs = 3000,
        .StatusWriteTypUs = 10000, .StatusWriteMaxUs = 15000,
        .FitsAlgorithms = true,
        .Note = "",
        .ProtectBits = 0x1C, .HasEwsr = true, .ResContinuation = 0x00,
        .Unverified = 0,
        .Borrowed = 0,
    },
    // 4 KiB erase typ: 45 ms for the IQ/IF grades (100 ms for IG).
    {
        .Part = &parts::W25Q32FV,
        .Sources = "Winbond W25Q32FV rev. J (June 2016); " CHIP_DATABASE,
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 45000, .SectorEraseMaxUs = 400000,
        .BlockEraseTypUs = 150000, .BlockEraseMaxUs = 2000000,
        .ProgramTypUs = 700, .ProgramMaxUs = 3000,
        .StatusWriteTypUs = 10000, .StatusWriteMaxUs = 15000,
        .FitsAlgorithms = true,
        .Note = "",
        .ProtectBits = 0x1C, .HasEwsr = true, .ResContinuation = 0x00,
        .Unverified = 0,
        .Borrowed = 0,
    },
    // 4 KiB erase typ: 45 ms for the IQ/IF grades (60 ms for IG).
    {
        .Part = &parts::W25Q64FV,
        .Sources = "Winbond W25Q64FV rev. S (July 2017); " CHIP_DATABASE,
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 45000, .SectorEraseMaxUs = 400000,
        .BlockEraseTypUs = 150000, .BlockEraseMaxUs = 2000000,
        .ProgramTypUs = 450, .ProgramMaxUs = 3000,
        .StatusWriteTypUs = 15000, .StatusWriteMaxUs = 20000,
        .FitsAlgorithms = true,
        .Note = "",
        .ProtectBits = 0x1C, .HasEwsr = true, .ResContinuation = 0x00,
        .Unverified = 0,
        .Borrowed = 0,
    },
    // 4 KiB erase typ: 45 ms for the IQ/IF grades (100 ms for IG).
    {
        .Part = &parts::W25Q128FV,
        .Sources = "Winbond W25Q128FV rev. M (May 2016); " CHIP_DATABASE,
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 45000, .SectorEraseMaxUs = 400000,
        .BlockEraseTypUs = 150000, .BlockEraseMaxUs = 2000000,
        .ProgramTypUs = 700, .ProgramMaxUs = 3000,
        .StatusWriteTypUs = 10000, .StatusWriteMaxUs = 15000,
        .FitsAlgorithms = true,
        .Note = "16 MiB: the flasher reaches 255 blocks (to 0xFEFFFF); the last 64 KiB keeps what it held",
        .ProtectBits = 0x1C, .HasEwsr = true, .ResContinuation = 0x00,
        .Unverified = 0,
        .Borrowed = 0,
    },
    // BP3 is reserved on this family: BP2..BP0 (0x1C) are set at power-up.
    {
        .Part = &parts::SST25VF080B,
        .Sources = "SST25VF080B DS25045A (09/2011), first page; SST25VF016B DS25044A (08/2011), same family; "
                CHIP_DATABASE,
        .Method = ProgramMethod::AaiWord,
        .PowerUpProtected = true, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 18000, .SectorEraseMaxUs = 25000,
        .BlockEraseTypUs = 18000, .BlockEraseMaxUs = 25000,
        .ProgramTypUs = 7, .ProgramMaxUs = 10,
        .StatusWriteTypUs = 0, .StatusWriteMaxUs = 0,
        .FitsAlgorithms = true,
        .Note = "AAI word programming (0xAD) only; WRSR after EWSR or WREN; 0x02 writes one byte",
        .ProtectBits = 0x1C, .HasEwsr = true, .ResContinuation = 0x00,
        .Unverified = 0,
        .Borrowed = field::POWER_UP | field::PROTECT_BITS | field::SECTOR_ERASE_MAX | field::BLOCK_ERASE_MAX |
            field::PROGRAM_MAX | field::STATUS_WRITE_TIME,
    },
    {
        .Part = &parts::SST25LF040A,
        .Sources = "SST25LF020A/SST25LF040A S71242-00-EOL (3/2009), first page; " CHIP_DATABASE,
        .Method = ProgramMethod::AaiByte,
        .PowerUpProtected = true, .WrsrNeedsEwsr = true,
        .SectorEraseTypUs = 18000, .SectorEraseMaxUs = 25000,
        .BlockEraseTypUs = 0, .BlockEraseMaxUs = 0,
        .ProgramTypUs = 14, .ProgramMaxUs = 20,
        .StatusWriteTypUs = 0, .StatusWriteMaxUs = 0,
        .FitsAlgorithms = true,
        .Note = "no RDID, identified by RES; AAI byte programming (0xAF); 32 KiB erase is 0x52, not 0xD8",
        .ProtectBits = 0x0C, .HasEwsr = true, .ResContinuation = 0x00,
        .Unverified = field::POWER_UP | field::PROTECT_BITS | field::SECTOR_ERASE_MAX | field::PROGRAM_MAX |
            field::STATUS_WRITE_TIME,
        .Borrowed = 0,
    },
    {
        .Part = &parts::SST25VF512,
        .Sources = "SST25VF512 DS25076A (10/2011), first page; " CHIP_DATABASE,
        .Method = ProgramMethod::AaiByte,
        .PowerUpProtected = true, .WrsrNeedsEwsr = true,
        .SectorEraseTypUs = 18000, .SectorEraseMaxUs = 25000,
        .BlockEraseTypUs = 0, .BlockEraseMaxUs = 0,
        .ProgramTypUs = 14, .ProgramMaxUs = 20,
        .StatusWriteTypUs = 0, .StatusWriteMaxUs = 0,
        .FitsAlgorithms = true,
        .Note = "64 KiB: images past one block wrap onto it; no RDID, RES answers BF 48 BF 48",
        .ProtectBits = 0x0C, .HasEwsr = true, .ResContinuation = 0x00,
        .Unverified = field::POWER_UP | field::SECTOR_ERASE_MAX | field::PROGRAM_MAX | field::STATUS_WRITE_TIME,
        .Borrowed = 0,
    },
    {
        .Part = &parts::SST25VF040B,
        .Sources = "SST25VF040B data sheet, first page; SST25VF016B DS25044A (08/2011), same family; " CHIP_DATABASE,
        .Method = ProgramMethod::AaiWord,
        .PowerUpProtected = true, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 18000, .SectorEraseMaxUs = 25000,
        .BlockEraseTypUs = 18000, .BlockEraseMaxUs = 25000,
        .ProgramTypUs = 7, .ProgramMaxUs = 10,
        .StatusWriteTypUs = 0, .StatusWriteMaxUs = 0,
        .FitsAlgorithms = true,
        .Note = "AAI word programming (0xAD); WRSR after EWSR or WREN",
        .ProtectBits = 0x1C, .HasEwsr = true, .ResContinuation = 0x00,
        .Unverified = 0,
        .Borrowed = field::POWER_UP | field::STATUS_ENABLE | field::PROTECT_BITS | field::SECTOR_ERASE_MAX |
            field::BLOCK_ERASE_MAX | field::PROGRAM_MAX | field::STATUS_WRITE_TIME,
    },
    {
        .Part = &parts::SST25VF016B,
        .Sources = "SST25VF016B DS25044A (08/2011); " CHIP_DATABASE,
        .Method = ProgramMethod::AaiWord,
        .PowerUpProtected = true, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 18000, .SectorEraseMaxUs = 25000,
        .BlockEraseTypUs = 18000, .BlockEraseMaxUs = 25000,
        .ProgramTypUs = 7, .ProgramMaxUs = 10,
        .StatusWriteTypUs = 0, .StatusWriteMaxUs = 0,
        .FitsAlgorithms = true,
        .Note = "AAI word programming (0xAD); WRSR after EWSR or WREN",
        .ProtectBits = 0x1C, .HasEwsr = true, .ResContinuation = 0x00,
        .Unverified = 0,
        .Borrowed = 0,
    },
    {
        .Part = &parts::SST25VF032B,
        .Sources = CHIP_DATABASE "; SST25VF016B DS25044A (08/2011), same family",
        .Method = ProgramMethod::AaiWord,
        .PowerUpProtected = true, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 18000, .SectorEraseMaxUs = 25000,
        .BlockEraseTypUs = 18000, .BlockEraseMaxUs = 25000,
        .ProgramTypUs = 7, .ProgramMaxUs = 10,
        .StatusWriteTypUs = 0, .StatusWriteMaxUs = 0,
        .FitsAlgorithms = true,
        .Note = "AAI word programming (0xAD); WRSR after EWSR or WREN",
        .ProtectBits = 0x1C, .HasEwsr = true, .ResContinuation = 0x00,
        .Unverified = 0,
        .Borrowed = field::POWER_UP | field::STATUS_ENABLE | field::PROTECT_BITS | field::TIMES,
    },
    {
        .Part = &parts::AT25DF041A,
        .Sources = "Atmel AT25DF041A 3668F-DFLASH-11/2013, first page; " CHIP_DATABASE,
        .Method = ProgramMethod::Page,
        .PowerUpProtected = true, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 50000, .SectorEraseMaxUs = 200000,
        .BlockEraseTypUs = 400000, .BlockEraseMaxUs = 950000,
        .ProgramTypUs = 1200, .ProgramMaxUs = 5000,
        .StatusWriteTypUs = 0, .StatusWriteMaxUs = 0,
        .FitsAlgorithms = true,
        .Note = "Atmel's code is 0x1F; the flasher's 0x9F has even parity, so no part answers it. Sectors power up "
                "protected; WRSR 0x00 is the global unprotect. 0xAB only wakes it (no ID)",
        .ProtectBits = 0x0C, .HasEwsr = false, .ResContinuation = 0x00,
        .Unverified = field::RES | field::POWER_UP | field::PROTECT_BITS | field::SECTOR_ERASE_MAX |
            field::BLOCK_ERASE_MAX | field::PROGRAM_MAX | field::STATUS_WRITE_TIME,
        .Borrowed = 0,
    },
    {
        .Part = &parts::M25P40,
        .Sources = "Numonyx M25P40 rev. 15 (December 2007), first page; " CHIP_DATABASE,
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 0, .SectorEraseMaxUs = 0,
        .BlockEraseTypUs = 1000000, .BlockEraseMaxUs = 3000000,
        .ProgramTypUs = 1500, .ProgramMaxUs = 5000,
        .StatusWriteTypUs = 5000, .StatusWriteMaxUs = 15000,
        .FitsAlgorithms = true,
        .Note = "no 4 KiB erase; 0xD8 erases its 64 KiB sector",
        .ProtectBits = 0x1C, .HasEwsr = false, .ResContinuation = 0x00,
        .Unverified = field::POWER_UP | field::BLOCK_ERASE_MAX | field::PROGRAM_MAX | field::STATUS_WRITE_TIME,
        .Borrowed = 0,
    },
    // BP3..BP0 are status bits 5..2, as the chip database has them.
    {
        .Part = &parts::S25FL204K,
        .Sources = CHIP_DATABASE "; no Spansion sheet reached",
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 30000, .SectorEraseMaxUs = 200000,
        .BlockEraseTypUs = 150000, .BlockEraseMaxUs = 1000000,
        .ProgramTypUs = 700, .ProgramMaxUs = 3000,
        .StatusWriteTypUs = 10000, .StatusWriteMaxUs = 15000,
        .FitsAlgorithms = true,
        .Note = "",
        .ProtectBits = 0x3C, .HasEwsr = false, .ResContinuation = 0x00,
        .Unverified = field::RES | field::POWER_UP | field::TIMES,
        .Borrowed = 0,
    },
    {
        .Part = &parts::S25FL004A,
        .Sources = "Spansion S25FL004A rev. B amendment 3 (July 2007), first page; " CHIP_DATABASE,
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 0, .SectorEraseMaxUs = 0,
        .BlockEraseTypUs = 500000, .BlockEraseMaxUs = 3000000,
        .ProgramTypUs = 1500, .ProgramMaxUs = 3000,
        .StatusWriteTypUs = 5000, .StatusWriteMaxUs = 15000,
        .FitsAlgorithms = false,
        .Note = "only 64 KiB sectors (0xD8): the flasher's 0x20 erases nothing, so the blank check fails",
        .ProtectBits = 0x0C, .HasEwsr = false, .ResContinuation = 0x00,
        .Unverified = field::RES | field::POWER_UP | field::PROTECT_BITS | field::BLOCK_ERASE_MAX | field::PROGRAM_MAX |
            field::STATUS_WRITE_TIME,
        .Borrowed = 0,
    },
    // Times: unverified, the W25Q16DV's standing in.
    {
        .Part = &parts::S25FL116K,
        .Sources = "Cypress S25FL116K/S25FL132K/S25FL164K 002-00497 rev. *I, first page; " CHIP_DATABASE,
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 60000, .SectorEraseMaxUs = 400000,
        .BlockEraseTypUs = 180000, .BlockEraseMaxUs = 1000000,
        .ProgramTypUs = 700, .ProgramMaxUs = 3000,
        .StatusWriteTypUs = 10000, .StatusWriteMaxUs = 15000,
        .FitsAlgorithms = true,
        .Note = "RDID shared with the S25FL216K",
        .ProtectBits = 0x3C, .HasEwsr = false, .ResContinuation = 0x00,
        .Unverified = field::RES | field::POWER_UP | field::TIMES,
        .Borrowed = 0,
    },
    {
        .Part = &parts::MX25L4005A,
        .Sources = "Macronix KH25L8005 PM1307 rev. 1.1 (December 2007), first page, same series; " CHIP_DATABASE,
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 60000, .SectorEraseMaxUs = 120000,
        .BlockEraseTypUs = 1000000, .BlockEraseMaxUs = 2000000,
        .ProgramTypUs = 1400, .ProgramMaxUs = 5000,
        .StatusWriteTypUs = 5000, .StatusWriteMaxUs = 30000,
        .FitsAlgorithms = true,
        .Note = "",
        .ProtectBits = 0x1C, .HasEwsr = false, .ResContinuation = 0x00,
        .Unverified = field::RES | field::POWER_UP | field::STATUS_WRITE_TIME,
        .Borrowed = field::ERASE_AND_PROGRAM_TIMES,
    },
    {
        .Part = &parts::MX25L512,
        .Sources = "Macronix KH25L8005 PM1307 rev. 1.1 (December 2007), first page, same series; " CHIP_DATABASE,
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 60000, .SectorEraseMaxUs = 120000,
        .BlockEraseTypUs = 1000000, .BlockEraseMaxUs = 2000000,
        .ProgramTypUs = 1400, .ProgramMaxUs = 5000,
        .StatusWriteTypUs = 5000, .StatusWriteMaxUs = 30000,
        .FitsAlgorithms = true,
        .Note = "64 KiB with 256-byte pages; the flasher writes it in 32-byte page programs",
        .ProtectBits = 0x0C, .HasEwsr = false, .ResContinuation = 0x00,
        .Unverified = field::RES | field::POWER_UP | field::STATUS_WRITE_TIME,
        .Borrowed = field::ERASE_AND_PROGRAM_TIMES,
    },
    // Times: unverified, the KH25L8005's standing in.
    {
        .Part = &parts::MX25L2005C,
        .Sources = CHIP_DATABASE "; no Macronix sheet reached",
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 60000, .SectorEraseMaxUs = 120000,
        .BlockEraseTypUs = 1000000, .BlockEraseMaxUs = 2000000,
        .ProgramTypUs = 1400, .ProgramMaxUs = 5000,
        .StatusWriteTypUs = 5000, .StatusWriteMaxUs = 30000,
        .FitsAlgorithms = true,
        .Note = "",
        .ProtectBits = 0x0C, .HasEwsr = false, .ResContinuation = 0x00,
        .Unverified = field::RES | field::POWER_UP | field::TIMES,
        .Borrowed = 0,
    },
    {
        .Part = &parts::MX25L8005,
        .Sources = "Macronix KH25L8005 PM1307 rev. 1.1 (December 2007), first page, same series; " CHIP_DATABASE,
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 60000, .SectorEraseMaxUs = 120000,
        .BlockEraseTypUs = 1000000, .BlockEraseMaxUs = 2000000,
        .ProgramTypUs = 1400, .ProgramMaxUs = 5000,
        .StatusWriteTypUs = 5000, .StatusWriteMaxUs = 30000,
        .FitsAlgorithms = true,
        .Note = "",
        .ProtectBits = 0x1C, .HasEwsr = false, .ResContinuation = 0x00,
        .Unverified = field::RES | field::POWER_UP | field::STATUS_WRITE_TIME,
        .Borrowed = field::ERASE_AND_PROGRAM_TIMES,
    },
    // Times: unverified, the KH25L8005's standing in.
    {
        .Part = &parts::MX25L1606E,
        .Sources = CHIP_DATABASE "; no Macronix sheet reached",
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 60000, .SectorEraseMaxUs = 120000,
        .BlockEraseTypUs = 1000000, .BlockEraseMaxUs = 2000000,
        .ProgramTypUs = 1400, .ProgramMaxUs = 5000,
        .StatusWriteTypUs = 5000, .StatusWriteMaxUs = 30000,
        .FitsAlgorithms = true,
        .Note = "",
        .ProtectBits = 0x3C, .HasEwsr = false, .ResContinuation = 0x00,
        .Unverified = field::RES | field::POWER_UP | field::TIMES,
        .Borrowed = 0,
    },
    // Times: unverified, the KH25L8005's standing in. Status bit 6 is QE, not a protect bit.
    {
        .Part = &parts::MX25L12835F,
        .Sources = CHIP_DATABASE "; no Macronix sheet reached",
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 60000, .SectorEraseMaxUs = 120000,
        .BlockEraseTypUs = 1000000, .BlockEraseMaxUs = 2000000,
        .ProgramTypUs = 1400, .ProgramMaxUs = 5000,
        .StatusWriteTypUs = 5000, .StatusWriteMaxUs = 30000,
        .FitsAlgorithms = true,
        .Note = "16 MiB: the flasher reaches 255 blocks (to 0xFEFFFF); the last 64 KiB keeps what it held",
        .ProtectBits = 0x3C, .HasEwsr = false, .ResContinuation = 0x00,
        .Unverified = field::RES | field::POWER_UP | field::TIMES,
        .Borrowed = 0,
    },
    {
        .Part = &parts::A25L010A,
        .Sources = "AMIC A25L010A series v1.5 (November 2014), first page; " CHIP_DATABASE,
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 200000, .SectorEraseMaxUs = 300000,
        .BlockEraseTypUs = 500000, .BlockEraseMaxUs = 2000000,
        .ProgramTypUs = 2000, .ProgramMaxUs = 5000,
        .StatusWriteTypUs = 5000, .StatusWriteMaxUs = 15000,
        .FitsAlgorithms = true,
        .Note = "",
        .ProtectBits = 0x1C, .HasEwsr = false, .ResContinuation = 0x00,
        .Unverified = field::POWER_UP | field::SECTOR_ERASE_MAX | field::BLOCK_ERASE_MAX | field::PROGRAM_MAX |
            field::STATUS_WRITE_TIME,
        .Borrowed = 0,
    },
    // Protect bits: BP2..BP0, as other makers' tables for the EN25F40 have them (no Eon statement reached).
    {
        .Part = &parts::EN25F40A,
        .Sources = "Eon EN25F40A, first page; " CHIP_DATABASE,
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 30000, .SectorEraseMaxUs = 300000,
        .BlockEraseTypUs = 200000, .BlockEraseMaxUs = 2000000,
        .ProgramTypUs = 800, .ProgramMaxUs = 5000,
        .StatusWriteTypUs = 10000, .StatusWriteMaxUs = 15000,
        .FitsAlgorithms = true,
        .Note = "",
        .ProtectBits = 0x1C, .HasEwsr = false, .ResContinuation = 0x00,
        .Unverified = field::RES | field::POWER_UP | field::PROTECT_BITS | field::SECTOR_ERASE_MAX |
            field::BLOCK_ERASE_MAX | field::PROGRAM_MAX | field::STATUS_WRITE_TIME,
        .Borrowed = 0,
    },
    // Maxima and status write: unverified, the EN25F40A's standing in.
    {
        .Part = &parts::EN25Q16,
        .Sources = "Eon EN25Q16, first page; " CHIP_DATABASE,
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 90000, .SectorEraseMaxUs = 300000,
        .BlockEraseTypUs = 400000, .BlockEraseMaxUs = 2000000,
        .ProgramTypUs = 1300, .ProgramMaxUs = 5000,
        .StatusWriteTypUs = 10000, .StatusWriteMaxUs = 15000,
        .FitsAlgorithms = true,
        .Note = "",
        .ProtectBits = 0x1C, .HasEwsr = false, .ResContinuation = 0x00,
        .Unverified = field::RES | field::POWER_UP | field::PROTECT_BITS | field::SECTOR_ERASE_MAX |
            field::BLOCK_ERASE_MAX | field::PROGRAM_MAX | field::STATUS_WRITE_TIME,
        .Borrowed = 0,
    },
    {
        .Part = &parts::F25L32PA,
        .Sources = "ESMT F25L01PA rev. 1.3 (April 2013), first page, same series; " CHIP_DATABASE,
        .Method = ProgramMethod::Page,
        .PowerUpProtected = true, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 90000, .SectorEraseMaxUs = 300000,
        .BlockEraseTypUs = 750000, .BlockEraseMaxUs = 2000000,
        .ProgramTypUs = 1500, .ProgramMaxUs = 5000,
        .StatusWriteTypUs = 0, .StatusWriteMaxUs = 0,
        .FitsAlgorithms = true,
        .Note = "powers up with every block protected; WRSR after EWSR or WREN",
        .ProtectBits = 0x1C, .HasEwsr = true, .ResContinuation = 0x00,
        .Unverified = field::RES | field::POWER_UP | field::SECTOR_ERASE_MAX | field::BLOCK_ERASE_MAX |
            field::PROGRAM_MAX | field::STATUS_WRITE_TIME,
        .Borrowed = field::SECTOR_ERASE_TYP | field::BLOCK_ERASE_TYP | field::PROGRAM_TYP,
    },
    {
        .Part = &parts::F25L008A,
        .Sources = "ESMT F25L008A rev. 1.6 (July 2008), first page; " CHIP_DATABASE,
        .Method = ProgramMethod::AaiWord,
        .PowerUpProtected = true, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 90000, .SectorEraseMaxUs = 200000,
        .BlockEraseTypUs = 1000000, .BlockEraseMaxUs = 2000000,
        .ProgramTypUs = 7, .ProgramMaxUs = 10,
        .StatusWriteTypUs = 0, .StatusWriteMaxUs = 0,
        .FitsAlgorithms = false,
        .Note = "SST-style: 0x02 programs one byte per command, so the flasher's 256-byte pages leave all but their "
                "first byte unwritten",
        .ProtectBits = 0x1C, .HasEwsr = true, .ResContinuation = 0x00,
        .Unverified = field::RES | field::POWER_UP | field::PROTECT_BITS | field::SECTOR_ERASE_MAX |
            field::BLOCK_ERASE_MAX | field::PROGRAM_MAX | field::STATUS_WRITE_TIME,
        .Borrowed = 0,
    },
    {
        .Part = &parts::PM25LD040,
        .Sources = CHIP_DATABASE "; no PMC sheet reached",
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 40000, .SectorEraseMaxUs = 100000,
        .BlockEraseTypUs = 80000, .BlockEraseMaxUs = 200000,
        .ProgramTypUs = 1000, .ProgramMaxUs = 5000,
        .StatusWriteTypUs = 10000, .StatusWriteMaxUs = 15000,
        .FitsAlgorithms = true,
        .Note = "PMC is in JEDEC bank 2: RDID starts with the continuation code 0x7F, and RES sends it after 9D 7E",
        .ProtectBits = 0x1C, .HasEwsr = false, .ResContinuation = 0x7F,
        .Unverified = field::RES | field::POWER_UP | field::TIMES,
        .Borrowed = 0,
    },
    {
        .Part = &parts::PM25LV040,
        .Sources = CHIP_DATABASE "; no PMC sheet reached",
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 0, .SectorEraseMaxUs = 0,
        .BlockEraseTypUs = 80000, .BlockEraseMaxUs = 200000,
        .ProgramTypUs = 1000, .ProgramMaxUs = 5000,
        .StatusWriteTypUs = 10000, .StatusWriteMaxUs = 15000,
        .FitsAlgorithms = false,
        .Note = "4 KiB sectors erase with 0xD7, not 0x20: the blank check fails. Same ID as PM25LD040, which the "
                "flasher names first",
        .ProtectBits = 0x1C, .HasEwsr = false, .ResContinuation = 0x7F,
        .Unverified = field::RES | field::POWER_UP | field::BLOCK_ERASE_TYP | field::BLOCK_ERASE_MAX |
            field::PROGRAM_TYP | field::PROGRAM_MAX | field::STATUS_WRITE_TIME,
        .Borrowed = 0,
    },
    // Times: unverified, the PM25LD040's.
    {
        .Part = &parts::PM25LD020,
        .Sources = CHIP_DATABASE "; no PMC sheet reached",
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 40000, .SectorEraseMaxUs = 100000,
        .BlockEraseTypUs = 80000, .BlockEraseMaxUs = 200000,
        .ProgramTypUs = 1000, .ProgramMaxUs = 5000,
        .StatusWriteTypUs = 10000, .StatusWriteMaxUs = 15000,
        .FitsAlgorithms = true,
        .Note = "PMC is in JEDEC bank 2: RDID starts with the continuation code 0x7F, and RES sends it after 9D 22",
        .ProtectBits = 0x1C, .HasEwsr = false, .ResContinuation = 0x7F,
        .Unverified = field::RES | field::POWER_UP | field::TIMES,
        .Borrowed = 0,
    },
    // BP4 and BP3 only choose the protected range: BP2..BP0 protect.
    {
        .Part = &parts::GD25Q40,
        .Sources = "GigaDevice GD25Q32B rev. 1.2, same series; GigaDevice GD25Q40C (table of contents); " CHIP_DATABASE,
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 100000, .SectorEraseMaxUs = 300000,
        .BlockEraseTypUs = 400000, .BlockEraseMaxUs = 1200000,
        .ProgramTypUs = 700, .ProgramMaxUs = 2400,
        .StatusWriteTypUs = 2000, .StatusWriteMaxUs = 15000,
        .FitsAlgorithms = true,
        .Note = "maker not in the flasher's table: no vendor line, written like any page part",
        .ProtectBits = 0x1C, .HasEwsr = true, .ResContinuation = 0x00,
        .Unverified = field::RES,
        .Borrowed = field::POWER_UP | field::STATUS_ENABLE | field::PROTECT_BITS | field::TIMES,
    },
    // BP4 and BP3 only choose the protected range: BP2..BP0 protect. No 0x50 in this revision.
    {
        .Part = &parts::GD25Q32B,
        .Sources = "GigaDevice GD25Q32B rev. 1.2; " CHIP_DATABASE,
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 100000, .SectorEraseMaxUs = 300000,
        .BlockEraseTypUs = 400000, .BlockEraseMaxUs = 1200000,
        .ProgramTypUs = 700, .ProgramMaxUs = 2400,
        .StatusWriteTypUs = 2000, .StatusWriteMaxUs = 15000,
        .FitsAlgorithms = true,
        .Note = "maker not in the flasher's table: no vendor line, written like any page part",
        .ProtectBits = 0x1C, .HasEwsr = false, .ResContinuation = 0x00,
        .Unverified = 0,
        .Borrowed = 0,
    },
    // Times: unverified, the W25Q16DV's standing in.
    {
        .Part = &parts::IS25LP016,
        .Sources = CHIP_DATABASE "; no ISSI sheet reached",
        .Method = ProgramMethod::Page,
        .PowerUpProtected = false, .WrsrNeedsEwsr = false,
        .SectorEraseTypUs = 60000, .SectorEraseMaxUs = 400000,
        .BlockEraseTypUs = 180000, .BlockEraseMaxUs = 1000000,
        .ProgramTypUs = 700, .ProgramMaxUs = 3000,
        .StatusWriteTypUs = 10000, .StatusWriteMaxUs = 15000,
        .FitsAlgorithms = true,
        .Note = "ISSI (0x9D) is not in the flasher's vendor table: no vendor line; the part table gives its size",
        .ProtectBits = 0x3C, .HasEwsr = false, .ResContinuation = 0x00,
        .Unverified = field::RES | field::POWER_UP | field::TIMES,
        .Borrowed = 0,
    },
};

#undef CHIP_DATABASE

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

namespace field {

const char* Name(int bit)
{
    static constexpr const char* NAMES[COUNT] = {
        "RDID", "RES answer", "size", "page size", "erase units", "program method",
        "power-up protection", "status-write enables", "protect bits",
        "0x20 erase typ", "0x20 erase max", "0xD8 erase typ", "0xD8 erase max",
        "program typ", "program max", "status write time",
    };
    return bit >= 0 && bit < COUNT ? NAMES[bit] : "?";
}

}  // namespace field

const ChipInfo& DefaultChip()
{
    return CATALOG[0];
}

}  // namespace zar::sim
