// The range operations at edges no run of the flasher reaches today, as the
// operations promise them: programs that start inside a page or a 32-byte
// chunk, and the last 4 KiB below 16 MiB, where 24-bit addresses end.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "Harness.h"
#include "ec/EcChannel.h"
#include "flash/FlashErase.h"
#include "flash/FlashPrimitives.h"
#include "flash/FlashProgram.h"
#include "flash/FlashVerify.h"

namespace zar::test {
namespace {

class Ranges : public ::testing::Test {
protected:
    // The part in follow mode, identified and unprotected; the SPI log is kept
    // from the start.
    void Start(const char* part)
    {
        rig_ = std::make_unique<Rig>(sim::FindChip(part));
        rig_->DecodeSpi();
        EcOpenChannel();
        rig_->With([&] {
            EcEnterFollowMode();
            chip_ = FlashIdentify();
            FlashUnprotect(chip_);
        });
    }
    // The SPI log's lines of one opcode.
    std::vector<std::string> Lines(const std::string& opcode)
    {
        std::vector<std::string> lines;
        for (const std::string& line : rig_->SpiLog())
            if (line.starts_with(opcode + " "))
                lines.push_back(line);
        return lines;
    }
    std::vector<uint8_t> Data(size_t size)
    {
        std::vector<uint8_t> data(size);
        for (size_t i = 0; i < size; ++i)
            data[i] = static_cast<uint8_t>(i * 7 + 3);
        return data;
    }

    std::unique_ptr<Rig> rig_;
    FlashChip chip_ = {};
};

// Each program stops at its page's end (and a chunk's, 32 bytes, on the
// parts written in chunks); the chip holds the data from the start address
// on, and nothing around it changes.
TEST_F(Ranges, ProgramsThatStartInsideAPageOrAChunk)
{
    struct Case {
        const char* Part;
        bool Chunked;
        uint32_t Start, Count;
        std::vector<std::string> Programs;
    } cases[] = {
        {"W25X40", false, 0x21F8, 0x110, {"PAGE_PROGRAM 0021F8 +8", "PAGE_PROGRAM 002200 +256", "PAGE_PROGRAM 002300 +8"}},
        {"MX25L512", true, 0x2208, 0x30, {"PAGE_PROGRAM 002208 +24", "PAGE_PROGRAM 002220 +24"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Part);
        Start(c.Part);
        std::vector<uint8_t> data = Data(c.Count);
        FlashResult result = {};
        rig_->With([&] {
            ASSERT_EQ(FlashErase(chip_, 0x2000, 0x1000).Outcome, FlashOutcome::Done);
            result = c.Chunked ? FlashProgramChunked(chip_, c.Start, data.data(), c.Count)
                                : FlashProgramPages(chip_, c.Start, data.data(), c.Count);
        });
        EXPECT_EQ(result.Outcome, FlashOutcome::Done);
        EXPECT_EQ(Lines("PAGE_PROGRAM"), c.Programs);
        const std::vector<uint8_t>& flash = rig_->Flash();
        EXPECT_TRUE(std::equal(data.begin(), data.end(), flash.begin() + c.Start));
        EXPECT_EQ(flash[c.Start - 1], 0xFF);
        EXPECT_EQ(flash[c.Start + c.Count], 0xFF);
    }
}

// The last sector and block below 16 MiB end exactly at the address space's
// end: erased, blank checked, programmed and verified like any other.
TEST_F(Ranges, TheLastSectorBelow16MiB)
{
    constexpr uint32_t LAST_SECTOR = 0xFFF000, LAST_BLOCK = 0xFF0000;
    Start("W25Q128FV");
    std::vector<uint8_t> data = Data(0x1000);
    const std::vector<uint8_t>& flash = rig_->Flash();
    const uint8_t below = flash[LAST_SECTOR - 1];
    rig_->With([&] {
        EXPECT_EQ(FlashErase(chip_, LAST_SECTOR, 0x1000).Outcome, FlashOutcome::Done);
        EXPECT_EQ(FlashBlankCheck(LAST_SECTOR, 0x1000).Outcome, FlashOutcome::Done);
        EXPECT_EQ(FlashProgramPages(chip_, LAST_SECTOR, data.data(), 0x1000).Outcome, FlashOutcome::Done);
        FlashResult verify = FlashVerify(LAST_SECTOR, data.data(), 0x1000);
        EXPECT_EQ(verify.Outcome, FlashOutcome::Done);
        EXPECT_EQ(verify.Sum, ByteSum(data, data.size()));
    });
    EXPECT_TRUE(std::equal(data.begin(), data.end(), flash.begin() + LAST_SECTOR));
    EXPECT_EQ(flash[LAST_SECTOR - 1], below);
    EXPECT_EQ(Lines("SECTOR_ERASE"), std::vector<std::string>{"SECTOR_ERASE FFF000"});

    rig_->With([&] { EXPECT_EQ(FlashEraseBlock(chip_, LAST_BLOCK).Outcome, FlashOutcome::Done); });
    EXPECT_TRUE(std::all_of(flash.begin() + LAST_BLOCK, flash.end(), [](uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(Lines("BLOCK_ERASE"), std::vector<std::string>{"BLOCK_ERASE FF0000"});
}

}  // namespace
}  // namespace zar::test
