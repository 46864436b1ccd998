// What failed, named at a failed run's end, after its own lines and before
// the command to type: the block, the step, and for a blank check or verify
// the first differing address with the byte expected and found. One whole
// run for each kind of failure: the lines, the status, the advice, and the
// SPI log, which shows the chip was not read again for them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Applications/Main/Main.h"
#include "Harness.h"
#include "ec/EcChannel.h"

namespace zar::test {
namespace {

constexpr int IMAGE_SIZE = 0x2A345;  // three blocks, the last one short

std::string Hex2(uint8_t value)
{
    return Hex(value, "%02X");
}

// The text from the failure's lines to the advice's end.
std::string Ending(const std::string& output)
{
    size_t at = output.find("\r\nFailed           : ");
    return at == std::string::npos ? std::string() : output.substr(at);
}

// The addresses of the log's last FAST_READ: where the run last read the chip.
std::string LastRead(const std::vector<std::string>& spiLog)
{
    std::string last;
    for (const std::string& line : spiLog)
        if (line.starts_with("FAST_READ "))
            last = line;
    return last;
}

class FailureNote : public ::testing::Test {
protected:
    void SetUp() override
    {
        image_ = MakeImage(IMAGE_SIZE);
        name_ = WriteTempFile("failed.bin", image_);
    }
    void TearDown() override { SetWaitLimits({0, 0}); }

    std::vector<uint8_t> image_;
    std::string name_;
};

// A bit that stays 1 in block 1 of 3: the classic screen shows block 2 at the
// end, all well; the lines after it name block 1, its verify and the byte.
TEST_F(FailureNote, AVerifyThatFailedInAnEarlierBlock)
{
    sim::ChipConfig stuck;
    stuck.Faults.HasStuckBits = true;
    stuck.Faults.StuckAddress = 0x1A345;
    stuck.Faults.StuckMask = static_cast<uint8_t>(~image_[0x1A345]);
    Rig rig(nullptr, {}, stuck);
    rig.DecodeSpi();
    ASSERT_EQ(rig.Run({name_, "p"}), EXIT_FLASH_FAILED) << rig.Output();
    EXPECT_TRUE(Ending(rig.Output())
                    .starts_with("\r\nFailed           : block 1 of 3, verify\r\n"
                                 "First difference : 0x1A345: expected " + Hex2(image_[0x1A345]) + ", found FF\r\n"
                                 "\r\nNo closing command sent: the EC stays in follow mode and can be flashed"
                                 " again.\r\n"
                                 "\r\nDo not switch off. Run again with p, as an EC in follow mode can't answer"
                                 " the module check:\r\n"
                                 "  zar failed.bin p\r\n"))
        << rig.Output();
    EXPECT_LT(rig.Output().rfind("Block Number     : 2"), rig.Output().find("\r\nFailed "));
    EXPECT_EQ(LastRead(rig.SpiLog()), "FAST_READ 020000 +41797");  // block 2's verify: nothing read after it
    EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::Follow);
}

// A part that erases nothing with 0x20 though the flasher takes it for one
// that does (the PM25LV040 answers as the PM25LD040): every blank check
// fails at its block's first byte; the first block is named.
TEST_F(FailureNote, ABlankCheckThatFailedInEveryBlock)
{
    Rig rig(sim::FindChip("PM25LV040"));
    rig.DecodeSpi();
    uint8_t found = rig.Flash()[0];
    ASSERT_EQ(rig.Run({name_, "p"}), EXIT_FLASH_FAILED) << rig.Output();
    EXPECT_NE(Ending(rig.Output()).find("\r\nFailed           : block 0 of 3, blank check (the first of 3 blocks"
                                        " that failed)\r\n"
                                        "First difference : 0x0: expected FF, found " + Hex2(found) + "\r\n"),
              std::string::npos)
        << rig.Output();
    EXPECT_EQ(AdvisedCommand(rig.Output()), (std::vector<std::string>{"failed.bin", "p"}));
}

// A chip that stays busy after its first erase of the run: the wait that
// ran out is named with the step it ran out in, after the NO ANSWER line.
TEST_F(FailureNote, AWaitThatRanOutInAnErase)
{
    SetWaitLimits({2000, 2000});
    sim::ChipConfig busy;
    busy.Faults.BusyForeverAfterOps = 1;  // the unprotect's status write, then the first erase
    Rig rig(nullptr, {}, busy);
    rig.DecodeSpi();
    ASSERT_EQ(rig.Run({name_, "p"}), EXIT_NO_ANSWER) << rig.Output();
    std::string out = rig.Output();
    EXPECT_NE(out.find("NO ANSWER!! The flash busy wait ran out at block 0. Nothing more was sent to the EC.\r\n"
                       "\r\nFailed           : block 0 of 3, erase: the flash busy wait ran out\r\n"
                       "\r\nNo closing command sent"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("First difference"), std::string::npos);
}

// /update names its failures the same way, in the block's own terms.
TEST_F(FailureNote, AnUpdateWhoseSectorDidNotTakeItsBytes)
{
    sim::ChipConfig stuck;
    stuck.Faults.HasStuckBits = true;
    stuck.Faults.StuckAddress = 0x21234;
    stuck.Faults.StuckMask = static_cast<uint8_t>(~image_[0x21234]);
    Rig rig(nullptr, {}, stuck);
    std::copy(image_.begin(), image_.end(), rig.Flash().begin());
    rig.Flash()[0x21234] = static_cast<uint8_t>(~image_[0x21234]);
    rig.DecodeSpi();
    ASSERT_EQ(rig.Run({"/update", name_, "p"}), EXIT_FLASH_FAILED) << rig.Output();
    EXPECT_NE(Ending(rig.Output()).find("\r\nFailed           : block 2 of 3, verify\r\n"
                                        "First difference : 0x21234: expected " + Hex2(image_[0x21234]) +
                                        ", found FF\r\n"),
              std::string::npos)
        << rig.Output();
    EXPECT_EQ(AdvisedCommand(rig.Output()), (std::vector<std::string>{"/update", "failed.bin", "p"}));
}

// A good run names nothing.
TEST_F(FailureNote, AGoodRunHasNone)
{
    Rig rig;
    ASSERT_EQ(rig.Run({name_, "p"}), EXIT_OK);
    EXPECT_EQ(rig.Output().find("Failed "), std::string::npos);
}

}  // namespace
}  // namespace zar::test
