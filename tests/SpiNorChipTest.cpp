// The simulated chip driven byte by byte through its SPI interface, as the
// EC's follow mode drives it.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <vector>

#include "flash/SpiOpcodes.h"
#include "sim/ChipCatalog.h"
#include "sim/SpiNorChip.h"

namespace zar::test {
namespace {

using sim::ChipConfig;
using sim::ReadDelay;

constexpr uint8_t READ = 0x03;

class Chip : public ::testing::Test {
protected:
    void Start(const char* name, ChipConfig config = Idle())
    {
        const sim::ChipInfo* info = sim::FindChip(name);
        ASSERT_NE(info, nullptr) << name;
        flash_.assign(info->Size, 0);
        for (size_t i = 0; i < flash_.size(); ++i)
            flash_[i] = static_cast<uint8_t>(0xA5 ^ (i >> 8) ^ i);
        before_ = flash_;
        chip_.Init(*info, config, flash_.data(), &clock_);
    }
    static ChipConfig Idle()
    {
        ChipConfig config;
        config.Busy = {ReadDelay::Zero, 0, 1};
        return config;
    }

    // One transaction: the bytes out, then `reads` bytes in.
    std::vector<uint8_t> Send(std::initializer_list<uint8_t> bytes, int reads = 0)
    {
        chip_.Select();
        for (uint8_t b : bytes)
            chip_.Write(b);
        std::vector<uint8_t> in;
        for (int i = 0; i < reads; ++i)
            in.push_back(chip_.Read());
        chip_.Deselect();
        return in;
    }
    void SendData(std::initializer_list<uint8_t> head, const std::vector<uint8_t>& data)
    {
        chip_.Select();
        for (uint8_t b : head)
            chip_.Write(b);
        for (uint8_t b : data)
            chip_.Write(b);
        chip_.Deselect();
    }
    // Polls WIP in one RDSR transaction; the number of reads that saw it set.
    int WaitReady()
    {
        chip_.Select();
        chip_.Write(RDSR);
        int busy = 0;
        while ((chip_.Read() & SR_WIP) && busy < 1000)
            ++busy;
        chip_.Deselect();
        return busy;
    }
    void Unprotect()
    {
        Send({WREN});
        Send({WRSR, 0x00});
        WaitReady();
    }
    std::vector<uint8_t> Flash(uint32_t at, uint32_t count)
    {
        return std::vector<uint8_t>(flash_.begin() + at, flash_.begin() + at + count);
    }
    bool Untouched() { return flash_ == before_; }

    sim::SpiNorChip chip_;
    sim::SimClock clock_;
    std::vector<uint8_t> flash_, before_;
};

// ---- Write enable, protection and when commands take effect ----------------

TEST_F(Chip, EraseAndProgramNeedWriteEnableAndConsumeIt)
{
    Start("W25X40");
    Send({SECTOR_ERASE, 0x01, 0x00, 0x00});
    Send({PAGE_PROGRAM, 0x01, 0x00, 0x00, 0x00});
    EXPECT_TRUE(Untouched());
    EXPECT_EQ(chip_.Stats().Refused, 2u);

    // WREN counts only once chip select rises.
    chip_.Select();
    chip_.Write(WREN);
    EXPECT_EQ(chip_.Status() & SR_WEL, 0);
    chip_.Deselect();
    EXPECT_EQ(chip_.Status() & SR_WEL, SR_WEL);

    Send({SECTOR_ERASE, 0x00, 0x10, 0x00});
    EXPECT_EQ(chip_.Status() & SR_WEL, 0);
    EXPECT_EQ(Flash(0x1000, 0x1000), std::vector<uint8_t>(0x1000, 0xFF));
    EXPECT_EQ(flash_[0x0FFF], before_[0x0FFF]);
    EXPECT_EQ(flash_[0x2000], before_[0x2000]);
    Send({SECTOR_ERASE, 0x00, 0x20, 0x00});  // WEL was used up
    EXPECT_EQ(flash_[0x2000], before_[0x2000]);

    // WRDI takes it back; a byte too many voids the WREN.
    Send({WREN});
    Send({WRDI});
    EXPECT_EQ(chip_.Status() & SR_WEL, 0);
    Send({WREN, 0x00});
    EXPECT_EQ(chip_.Status() & SR_WEL, 0);
}

TEST_F(Chip, BlockProtectRefusesWritesUntilClearedByWrsr)
{
    Start("SST25VF080B");  // powers up protected
    EXPECT_NE(chip_.Status() & 0x3C, 0);
    Send({WREN});
    Send({SECTOR_ERASE, 0x00, 0x00, 0x00});
    Send({WREN});
    Send({AAI_WORD_PROGRAM, 0x00, 0x00, 0x00, 0x00, 0x00});
    EXPECT_TRUE(Untouched());
    EXPECT_EQ(chip_.Stats().Refused, 2u);

    Unprotect();
    EXPECT_EQ(chip_.Status(), 0);
    Send({WREN});
    Send({SECTOR_ERASE, 0x00, 0x00, 0x00});
    EXPECT_EQ(flash_[0], 0xFF);

    // Setting a protect bit again locks the array again.
    Send({WREN});
    Send({WRSR, 0x04});
    WaitReady();
    Send({WREN});
    Send({SECTOR_ERASE, 0x00, 0x10, 0x00});
    EXPECT_EQ(flash_[0x1000], before_[0x1000]);
}

TEST_F(Chip, StatusWriteEnableFollowsThePart)
{
    // Old SST parts: only an EWSR right before WRSR opens the register.
    Start("SST25LF040A");
    Send({WREN});
    Send({WRSR, 0x00});
    EXPECT_NE(chip_.Status() & 0x0C, 0);
    Send({EWSR});
    Send({RDSR}, 1);
    Send({WRSR, 0x00});
    EXPECT_NE(chip_.Status() & 0x0C, 0) << "EWSR must come just before";
    Send({EWSR});
    Send({WRSR, 0x00});
    EXPECT_EQ(chip_.Status() & 0x0C, 0);
    EXPECT_EQ(chip_.Stats().StatusWrites, 1u);

    // Later SST parts take EWSR or WREN.
    Start("SST25VF080B");
    Send({WREN});
    Send({WRSR, 0x00});
    EXPECT_EQ(chip_.Status() & 0x3C, 0);

    // A part without EWSR ignores it and still wants WEL.
    Start("W25X40");
    Send({EWSR});
    Send({WRSR, 0x1C});
    EXPECT_EQ(chip_.Status(), 0);
    EXPECT_EQ(chip_.Stats().Refused, 2u);
}

// ---- Busy -------------------------------------------------------------------

TEST_F(Chip, BusyForAFixedNumberOfStatusReadsAndDeafMeanwhile)
{
    ChipConfig config;
    config.Busy = {ReadDelay::Fixed, 3, 1};
    Start("W25X40", config);
    Unprotect();
    Send({WREN});
    Send({SECTOR_ERASE, 0x00, 0x00, 0x00});
    // Every byte of the RDSR transaction is a fresh status read.
    EXPECT_EQ(Send({RDSR}, 2), (std::vector<uint8_t>{SR_WIP, SR_WIP}));
    // Nothing but RDSR is decoded while busy.
    Send({WREN});
    EXPECT_EQ(Send({RDID}, 1), std::vector<uint8_t>{0x00});
    EXPECT_EQ(WaitReady(), 1);
    Send({SECTOR_ERASE, 0x00, 0x10, 0x00});
    EXPECT_EQ(flash_[0x1000], before_[0x1000]) << "the WREN sent while busy was lost";
}

TEST_F(Chip, RandomBusyIsSeededAndBounded)
{
    auto busyReads = [this](uint64_t seed) {
        ChipConfig config;
        config.Busy = {ReadDelay::Random, 5, seed};
        Start("W25X40", config);
        std::vector<int> reads;
        for (int i = 0; i < 40; ++i) {
            Send({WREN});
            Send({WRSR, 0x00});
            reads.push_back(WaitReady());
        }
        return reads;
    };
    std::vector<int> first = busyReads(7);
    EXPECT_EQ(first, busyReads(7));
    EXPECT_NE(first, busyReads(8));
    for (int n : first)
        EXPECT_LE(n, 5);
    EXPECT_NE(*std::min_element(first.begin(), first.end()), *std::max_element(first.begin(), first.end()));
}

TEST_F(Chip, RealTimingKeepsWipForTheTypicalTime)
{
    ChipConfig config;
    config.RealTiming = true;
    Start("W25X40", config);
    const sim::ChipInfo& part = chip_.Info();
    Send({WREN});
    Send({PAGE_PROGRAM, 0x00, 0x00, 0x00, 0x12});
    clock_.Now += uint64_t{part.ProgramTypUs} * 1000 - 1;
    EXPECT_EQ(Send({RDSR}, 1)[0] & SR_WIP, SR_WIP);
    clock_.Now += 1;
    EXPECT_EQ(Send({RDSR}, 1)[0] & SR_WIP, 0);
    Send({WREN});
    Send({SECTOR_ERASE, 0x00, 0x00, 0x00});
    EXPECT_EQ(chip_.Stats().BusyNs, (uint64_t{part.ProgramTypUs} + part.SectorEraseTypUs) * 1000);
}

// ---- NOR array rules ----------------------------------------------------------

TEST_F(Chip, PageProgramAndsIntoTheArrayAndWrapsInsideItsPage)
{
    Start("W25X40");
    Unprotect();
    flash_[0x300] = 0xF0;
    Send({WREN});
    Send({PAGE_PROGRAM, 0x00, 0x03, 0x00, 0x3C});
    EXPECT_EQ(flash_[0x300], 0x30);

    // 32 bytes from offset 0xF0: the last 16 land at the page's start.
    std::fill(flash_.begin() + 0x400, flash_.begin() + 0x600, 0xFF);
    std::vector<uint8_t> data(32);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i);
    Send({WREN});
    SendData({PAGE_PROGRAM, 0x00, 0x04, 0xF0}, data);
    EXPECT_EQ(Flash(0x4F0, 16), std::vector<uint8_t>(data.begin(), data.begin() + 16));
    EXPECT_EQ(Flash(0x400, 16), std::vector<uint8_t>(data.begin() + 16, data.end()));
    EXPECT_EQ(flash_[0x410], 0xFF);
    EXPECT_EQ(flash_[0x500], 0xFF) << "the next page is not touched";

    // More than a page: the last 256 bytes count, each in its place.
    std::fill(flash_.begin() + 0x500, flash_.begin() + 0x600, 0xFF);
    std::vector<uint8_t> long_(300);
    for (size_t i = 0; i < long_.size(); ++i)
        long_[i] = static_cast<uint8_t>(i * 7);
    Send({WREN});
    SendData({PAGE_PROGRAM, 0x00, 0x05, 0x00}, long_);
    for (uint32_t i = 0; i < 256; ++i)
        ASSERT_EQ(flash_[0x500 + i], i < 44 ? long_[256 + i] : long_[i]) << i;
    EXPECT_EQ(chip_.Stats().Programs, 3u);
}

TEST_F(Chip, EraseUnitsFollowTheOpcodeAndThePart)
{
    Start("W25X40");
    Unprotect();
    Send({WREN});
    Send({BLOCK_ERASE, 0x01, 0x23, 0x45});
    EXPECT_EQ(Flash(0x10000, 0x10000), std::vector<uint8_t>(0x10000, 0xFF));
    EXPECT_EQ(flash_[0xFFFF], before_[0xFFFF]);
    EXPECT_EQ(flash_[0x20000], before_[0x20000]);

    // No 4 KiB erase on the M25P40: 0x20 is refused, 0xD8 takes the 64 KiB sector.
    Start("M25P40");
    Send({WREN});
    Send({SECTOR_ERASE, 0x00, 0x10, 0x00});
    EXPECT_TRUE(Untouched());
    EXPECT_EQ(chip_.Stats().Refused, 1u);
    EXPECT_EQ(chip_.Status() & SR_WEL, SR_WEL) << "a refused opcode does not use up WEL";
    Send({BLOCK_ERASE, 0x00, 0xF0, 0x00});
    EXPECT_EQ(Flash(0, 0x10000), std::vector<uint8_t>(0x10000, 0xFF));

    // The SST25VF512 has no 0xD8 at all.
    Start("SST25VF512");
    Send({EWSR});
    Send({WRSR, 0x00});
    Send({WREN});
    Send({BLOCK_ERASE, 0x00, 0x00, 0x00});
    EXPECT_TRUE(Untouched());
}

TEST_F(Chip, AddressesWrapAtTheEndOfTheArray)
{
    Start("W25X40");  // 512 KiB
    Unprotect();
    Send({WREN});
    Send({PAGE_PROGRAM, 0x08, 0x00, 0x10, 0x00});  // 0x080010 is 0x000010
    EXPECT_EQ(flash_[0x10], 0x00);

    // FAST_READ skips its dummy byte and runs on across the end.
    std::vector<uint8_t> got = Send({FAST_READ, 0x07, 0xFF, 0xFE, 0x99}, 4);
    EXPECT_EQ(got, (std::vector<uint8_t>{flash_[0x7FFFE], flash_[0x7FFFF], flash_[0], flash_[1]}));
}

// ---- Identification -------------------------------------------------------------

TEST_F(Chip, RdidAndResAnswerLikeThePart)
{
    Start("W25X40");
    EXPECT_EQ(Send({RDID}, 5), (std::vector<uint8_t>{0xEF, 0x30, 0x13, 0x00, 0x00}));
    EXPECT_EQ(Send({RES, 0, 0, 0}, 3), (std::vector<uint8_t>{0x12, 0x12, 0x12}));

    Start("SST25VF512");
    EXPECT_EQ(Send({RDID}, 4), std::vector<uint8_t>(4, 0x00));
    EXPECT_EQ(Send({RES, 0, 0, 0}, 4), (std::vector<uint8_t>{0xBF, 0x48, 0xBF, 0x48}));
    EXPECT_EQ(Send({RES, 0, 0, 1}, 2), (std::vector<uint8_t>{0x48, 0xBF}));
    EXPECT_EQ(Send({RES, 0, 0}, 1), std::vector<uint8_t>{0x00}) << "no answer before the third address byte";
}

// ---- Auto address increment ---------------------------------------------------------

TEST_F(Chip, AaiWordProgramsPairsAndAcceptsOnlyItsOwnCommands)
{
    Start("SST25VF080B");
    Unprotect();
    Send({WREN});
    Send({AAI_WORD_PROGRAM, 0x00, 0x20, 0x01, 0x11, 0x22});  // A0 is ignored
    EXPECT_EQ(chip_.Status() & (SR_WEL | 0x40), SR_WEL | 0x40);
    WaitReady();
    Send({AAI_WORD_PROGRAM, 0x33, 0x44});
    WaitReady();
    // Anything else is refused in AAI mode; an empty AAI command does nothing.
    Send({READ, 0x00, 0x20, 0x00}, 1);
    Send({SECTOR_ERASE, 0x00, 0x00, 0x00});
    Send({AAI_BYTE_PROGRAM, 0x55});
    Send({AAI_WORD_PROGRAM});
    EXPECT_EQ(chip_.Stats().Refused, 3u);
    Send({AAI_WORD_PROGRAM, 0x55, 0x66});
    WaitReady();
    Send({WRDI});
    EXPECT_EQ(chip_.Status(), 0);

    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(flash_[0x2000 + i], before_[0x2000 + i] & (0x11 * (i + 1))) << i;
    EXPECT_EQ(flash_[0x2006], before_[0x2006]);
    EXPECT_EQ(chip_.Stats().Programs, 3u);
    EXPECT_EQ(Send({READ, 0x00, 0x20, 0x00}, 1)[0], flash_[0x2000]) << "reads work again";
}

TEST_F(Chip, AaiOpcodesBelongToTheirParts)
{
    struct Case {
        const char* part;
        uint8_t opcode;
        int dataBytes;
        bool accepted;
    } cases[] = {
        {"SST25LF040A", AAI_BYTE_PROGRAM, 1, true},  {"SST25LF040A", AAI_WORD_PROGRAM, 2, false},
        {"SST25VF080B", AAI_BYTE_PROGRAM, 1, false}, {"W25X40", AAI_WORD_PROGRAM, 2, false},
        {"W25X40", AAI_BYTE_PROGRAM, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.part);
        Start(c.part);
        Send({EWSR});
        Send({WRSR, 0x00});
        Send({WREN});
        SendData({c.opcode, 0x00, 0x30, 0x00}, std::vector<uint8_t>(c.dataBytes, 0x00));
        EXPECT_EQ(flash_[0x3000] == 0, c.accepted);
        EXPECT_EQ(chip_.Stats().Programs, c.accepted ? 1u : 0u);
    }
}

TEST_F(Chip, AaiByteEndsAtTheTopOfTheArray)
{
    Start("SST25VF512");
    Send({EWSR});
    Send({WRSR, 0x00});
    Send({WREN});
    Send({AAI_BYTE_PROGRAM, 0x00, 0xFF, 0xFF, 0x00});
    WaitReady();
    EXPECT_EQ(flash_[0xFFFF], 0x00);
    EXPECT_EQ(chip_.Status(), 0) << "AAI mode and WEL end with the last address";
    Send({AAI_BYTE_PROGRAM, 0x00});
    EXPECT_EQ(flash_[0], before_[0]);
}

TEST_F(Chip, OneByteProgramOnPartsWithoutPages)
{
    Start("F25L008A");  // SST-style: 0x02 writes one byte
    Send({WREN});
    Send({WRSR, 0x00});
    Send({WREN});
    Send({PAGE_PROGRAM, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00});
    EXPECT_EQ(flash_[0x100], 0x00);
    EXPECT_EQ(flash_[0x101], before_[0x101]);
}

// ---- Injected faults ---------------------------------------------------------------

TEST_F(Chip, Faults)
{
    ChipConfig locked = Idle();
    locked.Faults.ProtectionLocked = true;
    Start("W25X40", locked);  // not protected at power-up on its own
    Unprotect();
    EXPECT_EQ(chip_.Status() & 0x1C, 0x1C);
    Send({WREN});
    Send({SECTOR_ERASE, 0x00, 0x00, 0x00});
    EXPECT_TRUE(Untouched());

    ChipConfig stuck = Idle();
    stuck.Faults.HasStuckBits = true;
    stuck.Faults.StuckAddress = 0x1005;
    stuck.Faults.StuckMask = 0x81;
    Start("W25X40", stuck);
    Send({WREN});
    Send({SECTOR_ERASE, 0x00, 0x10, 0x00});
    Send({WREN});
    SendData({PAGE_PROGRAM, 0x00, 0x10, 0x00}, std::vector<uint8_t>(16, 0x00));
    EXPECT_EQ(flash_[0x1004], 0x00);
    EXPECT_EQ(flash_[0x1005], 0x81);

    ChipConfig dying = Idle();
    dying.Faults.BusyForeverAfterOps = 1;
    Start("W25X40", dying);
    Send({WREN});
    Send({WRSR, 0x00});
    EXPECT_EQ(WaitReady(), 0);
    Send({WREN});
    Send({SECTOR_ERASE, 0x00, 0x00, 0x00});
    EXPECT_EQ(WaitReady(), 1000) << "the second operation never ends";
}

}  // namespace
}  // namespace zar::test
