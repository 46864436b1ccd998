// The simulated chip driven byte by byte through its SPI interface, as the
// EC's follow mode drives it.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <vector>

#include "flash/SpiOpcodes.h"
#include "sim/SpiNorChip.h"

namespace zar::test {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t READ = 0x03;

class Chip : public ::testing::Test {
protected:
    void Start(const char* name, sim::ChipConfig config = Idle())
    {
        const sim::ChipInfo* info = sim::FindChip(name);
        ASSERT_NE(info, nullptr) << name;
        flash_.resize(info->Part->Size);
        for (size_t i = 0; i < flash_.size(); ++i)
            flash_[i] = static_cast<uint8_t>(0xA5 ^ (i >> 8) ^ i);
        before_ = flash_;
        chip_.Init(*info, config, flash_.data(), &clock_);
    }
    static sim::ChipConfig Idle()
    {
        sim::ChipConfig config;
        config.Busy = {sim::ReadDelay::Zero, 0, 1};
        return config;
    }
    // One transaction: bytes out, then `reads` bytes in.
    Bytes Send(std::initializer_list<uint8_t> head, int reads = 0, const Bytes& data = {})
    {
        chip_.Select();
        for (uint8_t b : head)
            chip_.Write(b);
        for (uint8_t b : data)
            chip_.Write(b);
        Bytes in;
        while (reads-- > 0)
            in.push_back(chip_.Read());
        chip_.Deselect();
        return in;
    }
    // Status reads that saw WIP in one RDSR transaction (at most 1000).
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
    void Enabled(std::initializer_list<uint8_t> head, const Bytes& data = {})
    {
        Send({WREN});
        Send(head, 0, data);
    }
    void Unprotect(bool ewsr = false)
    {
        Send({ewsr ? EWSR : WREN});
        Send({WRSR, 0x00});
        WaitReady();
    }
    Bytes Flash(uint32_t at, uint32_t count) { return Bytes(flash_.begin() + at, flash_.begin() + at + count); }
    bool Untouched() { return flash_ == before_; }

    sim::SpiNorChip chip_;
    sim::SimClock clock_;
    Bytes flash_, before_;
};

TEST_F(Chip, WriteEnableIsNeededTakesEffectAtDeselectAndIsUsedUp)
{
    Start("W25X40");
    Send({SECTOR_ERASE, 0x00, 0x10, 0x00});
    Send({PAGE_PROGRAM, 0x00, 0x10, 0x00, 0x00});
    EXPECT_TRUE(Untouched());
    EXPECT_EQ(chip_.Stats().Refused, 2u);

    chip_.Select();
    chip_.Write(WREN);
    EXPECT_EQ(chip_.Status() & SR_WEL, 0);
    chip_.Deselect();
    EXPECT_EQ(chip_.Status() & SR_WEL, SR_WEL);
    Send({SECTOR_ERASE, 0x00, 0x10, 0x00});
    EXPECT_EQ(Flash(0x1000, 0x1000), Bytes(0x1000, 0xFF));
    EXPECT_EQ(flash_[0x0FFF], before_[0x0FFF]);
    EXPECT_EQ(chip_.Status() & SR_WEL, 0);
    Send({SECTOR_ERASE, 0x00, 0x20, 0x00});
    EXPECT_EQ(flash_[0x2000], before_[0x2000]);

    Send({WREN, 0x00});  // a byte too many voids it
    EXPECT_EQ(chip_.Status() & SR_WEL, 0);
}

TEST_F(Chip, ProtectBitsAndTheStatusWriteEnableOfEachPart)
{
    Start("SST25VF080B");  // powers up protected; WRSR after WREN or EWSR
    EXPECT_EQ(chip_.Status(), 0x1C) << "BP2..BP0 set; BP3 is reserved";
    Enabled({SECTOR_ERASE, 0x00, 0x00, 0x00});
    EXPECT_TRUE(Untouched());
    Unprotect();
    EXPECT_EQ(chip_.Status(), 0);
    Enabled({WRSR, 0x04});
    Enabled({SECTOR_ERASE, 0x00, 0x00, 0x00});
    EXPECT_TRUE(Untouched()) << "one protect bit is enough";
    Unprotect(true);
    Enabled({SECTOR_ERASE, 0x00, 0x00, 0x00});
    EXPECT_EQ(flash_[0], 0xFF);

    Start("SST25LF040A");  // only an EWSR right before WRSR opens the register
    Unprotect();
    Send({EWSR});
    Send({RDSR}, 1);
    Send({WRSR, 0x00});
    EXPECT_EQ(chip_.Status() & 0x0C, 0x0C);
    Unprotect(true);
    EXPECT_EQ(chip_.Status() & 0x0C, 0);

    Start("W25X40");  // no EWSR: ignored, and WRSR still wants WEL
    Send({EWSR});
    Send({WRSR, 0x1C});
    EXPECT_EQ(chip_.Status(), 0);
    EXPECT_EQ(chip_.Stats().Refused, 2u);
}

TEST_F(Chip, BusyCountsStatusReadsOrVirtualTime)
{
    sim::ChipConfig fixed;
    fixed.Busy = {sim::ReadDelay::Fixed, 3, 1};
    Start("W25X40", fixed);
    Enabled({SECTOR_ERASE, 0x00, 0x00, 0x00});
    EXPECT_EQ(Send({RDSR}, 2), (Bytes{SR_WIP, SR_WIP})) << "each byte is a status read";
    Send({WREN});  // not decoded while busy
    EXPECT_EQ(WaitReady(), 1);
    Send({SECTOR_ERASE, 0x00, 0x10, 0x00});
    EXPECT_EQ(flash_[0x1000], before_[0x1000]);

    auto draws = [this](uint64_t seed) {
        sim::ChipConfig random;
        random.Busy = {sim::ReadDelay::Random, 5, seed};
        Start("W25X40", random);
        std::vector<int> n;
        for (int i = 0; i < 30; ++i) {
            Enabled({WRSR, 0x00});
            n.push_back(WaitReady());
        }
        return n;
    };
    std::vector<int> a = draws(7);
    EXPECT_EQ(a, draws(7));
    EXPECT_NE(a, draws(8));
    EXPECT_LE(*std::max_element(a.begin(), a.end()), 5);

    sim::ChipConfig real;
    real.RealTiming = true;
    Start("W25X40", real);
    uint64_t page = uint64_t{chip_.Info().ProgramTypUs} * 1000;
    Enabled({PAGE_PROGRAM, 0x00, 0x00, 0x00, 0x12});
    clock_.Now += page - 1;
    EXPECT_EQ(chip_.Status() & SR_WIP, SR_WIP);
    clock_.Now += 1;
    EXPECT_EQ(chip_.Status() & SR_WIP, 0);
    EXPECT_EQ(chip_.Stats().BusyNs, page);
}

TEST_F(Chip, PageProgramAndsAndWrapsInsideItsPage)
{
    Start("W25X40");
    flash_[0x300] = 0xF0;
    Enabled({PAGE_PROGRAM, 0x00, 0x03, 0x00, 0x3C});
    EXPECT_EQ(flash_[0x300], 0x30);

    // 300 bytes from offset 0xF0: the last 256 count, each at its wrapped place.
    std::fill(flash_.begin() + 0x400, flash_.begin() + 0x600, 0xFF);
    Bytes data(300);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7 + 1);
    Enabled({PAGE_PROGRAM, 0x00, 0x04, 0xF0}, data);
    for (uint32_t i = 44; i < 300; ++i)
        ASSERT_EQ(flash_[0x400 + ((0xF0 + i) & 0xFF)], data[i]) << i;
    EXPECT_EQ(Flash(0x500, 0x100), Bytes(0x100, 0xFF)) << "the next page is not touched";
}

TEST_F(Chip, EraseUnitsAndAddressWrapFollowThePart)
{
    Start("W25X40");  // 512 KiB
    Enabled({BLOCK_ERASE, 0x09, 0x23, 0x45});  // 0x092345 is in 0x010000..0x01FFFF
    EXPECT_EQ(Flash(0x10000, 0x10000), Bytes(0x10000, 0xFF));
    EXPECT_EQ(flash_[0xFFFF], before_[0xFFFF]);
    EXPECT_EQ(flash_[0x20000], before_[0x20000]);
    EXPECT_EQ(Send({FAST_READ, 0x07, 0xFF, 0xFF, 0x99}, 2), (Bytes{flash_[0x7FFFF], flash_[0]}));

    Start("M25P40");  // no 4 KiB erase: 0x20 refused, WEL kept
    Enabled({SECTOR_ERASE, 0x00, 0x10, 0x00});
    EXPECT_TRUE(Untouched());
    Send({BLOCK_ERASE, 0x00, 0xF0, 0x00});
    EXPECT_EQ(Flash(0, 0x10000), Bytes(0x10000, 0xFF));

    Start("SST25VF512");  // no 0xD8 at all
    Unprotect(true);
    Enabled({BLOCK_ERASE, 0x00, 0x00, 0x00});
    EXPECT_TRUE(Untouched());
}

TEST_F(Chip, RdidAndResAnswerLikeThePart)
{
    Start("W25X40");
    EXPECT_EQ(Send({RDID}, 4), (Bytes{0xEF, 0x30, 0x13, 0x00}));
    EXPECT_EQ(Send({RES, 0, 0, 0}, 2), (Bytes{0x12, 0x12}));
    Start("SST25VF512");
    EXPECT_EQ(Send({RDID}, 4), Bytes(4, 0x00));
    EXPECT_EQ(Send({RES, 0, 0, 0}, 4), (Bytes{0xBF, 0x48, 0xBF, 0x48}));
    EXPECT_EQ(Send({RES, 0, 0, 1}, 2), (Bytes{0x48, 0xBF}));
    Start("PM25LD040");  // the bank-2 continuation code follows maker and device
    EXPECT_EQ(Send({RES, 0, 0, 0}, 4), (Bytes{0x9D, 0x7E, 0x7F, 0x9D}));
    EXPECT_EQ(Send({RES, 0, 0, 1}, 3), (Bytes{0x7E, 0x7F, 0x9D}));
}

TEST_F(Chip, AaiWordProgramsPairsAndTakesNothingElseUntilWrdi)
{
    Start("SST25VF080B");
    Unprotect();
    Enabled({AAI_WORD_PROGRAM, 0x00, 0x20, 0x01, 0x11, 0x22});  // A0 is ignored
    EXPECT_EQ(chip_.Status(), SR_WEL | 0x40);
    WaitReady();
    Send({AAI_WORD_PROGRAM, 0x33, 0x44});
    Send({READ, 0x00, 0x20, 0x00}, 1);
    Send({SECTOR_ERASE, 0x00, 0x00, 0x00});
    Send({AAI_BYTE_PROGRAM, 0x55});
    Send({AAI_WORD_PROGRAM});  // cut short: nothing
    EXPECT_EQ(chip_.Stats().Refused, 3u);
    Send({AAI_WORD_PROGRAM, 0x55, 0x66});
    Send({WRDI});
    EXPECT_EQ(chip_.Status(), 0);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(flash_[0x2000 + i], i < 6 ? before_[0x2000 + i] & (0x11 * (i + 1)) : before_[0x2006]) << i;
    EXPECT_EQ(chip_.Stats().Programs, 3u);

    // Each AAI opcode belongs to its kind of part.
    struct Case { const char* part; uint8_t opcode; size_t data; bool takes; } cases[] = {
        {"SST25LF040A", AAI_BYTE_PROGRAM, 1, true}, {"SST25LF040A", AAI_WORD_PROGRAM, 2, false},
        {"SST25VF080B", AAI_BYTE_PROGRAM, 1, false}, {"W25X40", AAI_WORD_PROGRAM, 2, false}};
    for (const Case& c : cases) {
        Start(c.part);
        Unprotect(c.part[0] == 'S');
        Enabled({c.opcode, 0x00, 0x30, 0x00}, Bytes(c.data, 0x00));
        EXPECT_EQ(chip_.Stats().Programs, c.takes ? 1u : 0u) << c.part;
    }
}

TEST_F(Chip, AaiEndsAtTheTopAndOtherSstPartsProgramOneBytePerPageProgram)
{
    Start("SST25VF512");
    Unprotect(true);
    Enabled({AAI_BYTE_PROGRAM, 0x00, 0xFF, 0xFF, 0x00});
    EXPECT_EQ(flash_[0xFFFF], 0x00);
    EXPECT_EQ(chip_.Status(), 0) << "AAI mode and WEL end at the last address";

    Start("F25L008A");
    Unprotect();
    Enabled({PAGE_PROGRAM, 0x00, 0x01, 0x00, 0x00, 0x00});
    EXPECT_EQ(flash_[0x100], 0x00);
    EXPECT_EQ(flash_[0x101], before_[0x101]);
}

TEST_F(Chip, InjectedFaults)
{
    sim::ChipConfig config = Idle();
    config.Faults.ProtectionLocked = true;
    Start("W25X40", config);
    Unprotect();
    EXPECT_EQ(chip_.Status() & 0x1C, 0x1C);
    Enabled({SECTOR_ERASE, 0x00, 0x00, 0x00});
    EXPECT_TRUE(Untouched());

    config = Idle();
    config.Faults.HasStuckBits = true;
    config.Faults.StuckAddress = 0x1005;
    config.Faults.StuckMask = 0x81;
    Start("W25X40", config);
    Enabled({PAGE_PROGRAM, 0x00, 0x10, 0x00}, Bytes(16, 0x00));
    EXPECT_EQ(Flash(0x1004, 2), (Bytes{0x00, 0x81}));

    config = Idle();
    config.Faults.BusyForeverAfterOps = 1;
    Start("W25X40", config);
    Unprotect();
    EXPECT_EQ(WaitReady(), 0);
    Enabled({SECTOR_ERASE, 0x00, 0x00, 0x00});
    EXPECT_EQ(WaitReady(), 1000) << "the second operation never ends";
}

}  // namespace
}  // namespace zar::test
