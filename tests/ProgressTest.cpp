// The long passes' progress line: redrawn in place at every percent (and
// every second), between transactions only (the firmware-around tests hold
// every verb to that), while the console's text, and so the record, gets
// the line once, in its last state.
#include <gtest/gtest.h>

#include <stdio.h>

#include <regex>
#include <string>
#include <vector>

#include "Applications/Main/Main.h"
#include "Harness.h"

namespace zar::test {
namespace {

// The shares the redraws of the line that starts with label showed, in order.
std::vector<int> SharesDrawn(const std::string& redrawn, const std::string& label)
{
    std::vector<int> shares;
    std::regex drawn("\r" + label + "([0-9]+) %");
    for (auto it = std::sregex_iterator(redrawn.begin(), redrawn.end(), drawn); it != std::sregex_iterator(); ++it)
        shares.push_back(std::stoi((*it)[1]));
    return shares;
}

// Every percent from the first to 100 shows, in order.
void ExpectEveryPercent(const std::vector<int>& shares)
{
    ASSERT_FALSE(shares.empty());
    EXPECT_LE(shares.front(), 1);
    EXPECT_EQ(shares.back(), 100);
    for (size_t i = 1; i < shares.size(); ++i)
        EXPECT_LE(shares[i] - shares[i - 1], 1) << "from " << shares[i - 1] << " to " << shares[i];
}

std::string FileText(const char* name)
{
    std::vector<uint8_t> bytes = ReadFileBytes(name);
    return std::string(bytes.begin(), bytes.end());
}

TEST(Progress, ReadShowsEveryPercentAndKeepsOnlyTheLastState)
{
    Rig rig;
    remove(TempPath("progress.bin").c_str());  // in the tests' folder, which is the current one from here on
    remove("progress.log");
    ASSERT_EQ(rig.Run({"/log", "progress.log", "/read", "progress.bin"}), EXIT_OK) << rig.Output();
    ExpectEveryPercent(SharesDrawn(rig.Redrawn(), "Reading\\.\\.\\.       : "));
    ExpectEveryPercent(SharesDrawn(rig.Redrawn(), "Reading again\\.\\.\\. : "));
    for (const std::string& text : {rig.Output(), FileText("progress.log")}) {
        EXPECT_EQ(CountOf(text, "Reading...       : 100 %  524288 bytes"), 1u) << text;
        EXPECT_EQ(CountOf(text, "Reading again... : 100 %  524288 bytes"), 1u) << text;
        EXPECT_EQ(text.find(" 50 %"), std::string::npos);
    }
}

// A 16 MiB part: /update's read pass over an image of the flasher's largest
// size, the chip already holding it.
TEST(Progress, UpdateOfASixteenMebibytePartShowsItsReadPass)
{
    std::vector<uint8_t> image = MakeImage(0xFF0000);
    std::string name = WriteTempFile("progress16.bin", image);
    Rig rig(sim::FindChip("W25Q128FV"));
    rig.StopTracing();
    std::copy(image.begin(), image.end(), rig.Flash().begin());
    ASSERT_EQ(rig.Run({"/update", name, "p"}), EXIT_OK) << rig.Output();
    ExpectEveryPercent(SharesDrawn(rig.Redrawn(), "Reading\\.\\.\\.       : "));
    EXPECT_NE(rig.Output().find("Reading...       : 100 %  16711680 bytes"), std::string::npos) << rig.Output();
}

// /verify keeps its block lines as they were, the line moving between them.
TEST(Progress, VerifyKeepsItsBlockLines)
{
    std::vector<uint8_t> image = MakeImage(0x2A345);
    std::string name = WriteTempFile("progress-verify.bin", image);
    Rig rig;
    std::copy(image.begin(), image.end(), rig.Flash().begin());
    ASSERT_EQ(rig.Run({"/verify", name, "p"}), EXIT_OK) << rig.Output();
    ExpectEveryPercent(SharesDrawn(rig.Redrawn(), "Verifying\\.\\.\\.     : "));
    EXPECT_NE(rig.Output().find("Block 0          : ================ -- Equal. \r\n"
                                "Block 1          : ================ -- Equal. \r\n"
                                "Block 2          : =========== -- Equal. \r\n"
                                "Verifying...     : 100 %  172869 bytes"),
              std::string::npos)
        << rig.Output();
}

}  // namespace
}  // namespace zar::test
