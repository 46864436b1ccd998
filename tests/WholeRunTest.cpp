// Whole runs through the simulated EC and chip: what the chip holds after,
// what the console said, the closing command and the exit status.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Applications/Main/Main.h"
#include "Applications/Main/RunState.h"
#include "Harness.h"

namespace zar::test {
namespace {

int CeilDiv(int a, int b)
{
    return (a + b - 1) / b;
}

// The marks a block of a page-program run shows, worked out from the image
// size alone.
BlockMarks ExpectedPageMarks(int size, int block)
{
    int n = std::min(size - block * 0x10000, 0x10000);
    int kib = CeilDiv(size, 1024);
    int erase = 0;
    while (erase < 16 && block * 64 + erase * 4 != kib)
        ++erase;
    int low = std::min(n, 0x8000);
    return {erase, CeilDiv(n, 0x1000), CeilDiv(CeilDiv(n, 256), 16), CeilDiv(low, 0x1000) + CeilDiv(n - low, 0x1000)};
}

std::string ChecksumLine(uint32_t sum)
{
    char line[64];
    snprintf(line, sizeof line, "\r\nCurrent F/W Checksum : %04X\r\n", sum);
    return line;
}

TEST(WholeRun, ImageSizesEndEveryOperationAtTheImagesEnd)
{
    for (int size : {0x4001, 0x8000, 0x9000, 0x10000, 0x10001, 0x10180, 0x11000, 0x18000, 0x20000}) {
        SCOPED_TRACE(size);
        std::vector<uint8_t> image = MakeImage(size);
        std::string name = WriteTempFile("sized.bin", image);
        Rig rig;
        rig.StopTracing();
        ASSERT_EQ(rig.Run({name, "p"}), EXIT_OK) << rig.Output();

        std::vector<BlockMarks> marks = MarksPerBlock(rig.Output());
        ASSERT_EQ(static_cast<int>(marks.size()), CeilDiv(size, 0x10000));
        for (int b = 0; b < static_cast<int>(marks.size()); ++b)
            EXPECT_EQ(marks[b], ExpectedPageMarks(size, b)) << "block " << b;
        EXPECT_TRUE(std::equal(image.begin(), image.end(), rig.Flash().begin()));
        EXPECT_EQ(RunState.VerifiedBytes, size);
        EXPECT_EQ(RunState.ProgrammedBytes, size);
        EXPECT_TRUE(rig.Output().ends_with(ChecksumLine(ByteSum(image, image.size()))));
        EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::ClosedExit);
    }
}

// A slow, jittery EC and a chip whose busy time varies change how often the
// host polls, never what it writes.
TEST(WholeRun, RandomLatenciesGiveTheSameFlash)
{
    std::vector<uint8_t> image = MakeImage(0x14321);
    std::string name = WriteTempFile("jitter.bin", image);
    for (const sim::ChipInfo* chip : {&sim::DefaultChip(), FindPart([](const sim::ChipInfo& c) {
                                           return c.FitsAlgorithms && c.Method == sim::ProgramMethod::AaiWord;
                                       })}) {
        SCOPED_TRACE(chip->Part->Name);
        sim::EcConfig ec;
        ec.IbfDelay = {sim::ReadDelay::Random, 5, 7};
        ec.ObfDelay = {sim::ReadDelay::Random, 4, 11};
        sim::ChipConfig busy;
        busy.Busy = {sim::ReadDelay::Random, 9, 3};
        Rig rig(chip, ec, busy);
        rig.StopTracing();
        ASSERT_EQ(rig.Run({name, "p"}), EXIT_OK) << rig.Output();
        EXPECT_TRUE(std::equal(image.begin(), image.end(), rig.Flash().begin()));
        EXPECT_EQ(rig.Ec().Stats().DroppedWrites, 0u);
        EXPECT_EQ(rig.Ec().Stats().Unexpected, 0u);
        EXPECT_EQ(rig.Chip().Stats().Refused, 0u);
    }
}

TEST(WholeRun, FirstBlockPrintsUnderTheBannerLaterOnesRedrawTheScreen)
{
    std::vector<uint8_t> image = MakeImage(0x10010);
    std::string name = WriteTempFile("two.bin", image);
    Rig rig;
    rig.StopTracing();
    ASSERT_EQ(rig.Run({name, "p"}), EXIT_OK);
    const std::string& out = rig.Output();
    EXPECT_TRUE(out.starts_with("{ATTR 07}\r\nTEST_A \r\n{CLS}" + BANNER + "\r\nDevice ID"));
    EXPECT_EQ(CountOf(out, "{CLS}"), 2u);
    EXPECT_NE(out.find("{CLS}{POS 0,0}" + BANNER + "{POS 1,3}\r\nDevice ID        : "), std::string::npos);
    EXPECT_NE(out.find("\r\nBlock Number     : 0 \r\n\r\nEraseing"), std::string::npos);
    EXPECT_NE(out.find("\r\nBlock Number     : 1 \r\n\r\nEraseing"), std::string::npos);
    EXPECT_EQ(CountOf(out, "SPI Vendor       : "), 2u);
}

TEST(WholeRun, ClosingCommandFollowsTheSwitches)
{
    std::vector<uint8_t> image = MakeImage(0x1000);
    std::string name = WriteTempFile("close.bin", image);
    struct Case {
        std::vector<std::string> args;
        sim::EcMode mode;
    } cases[] = {
        {{name}, sim::EcMode::ClosedExit},
        {{name, "p"}, sim::EcMode::ClosedExit},
        {{name, "p", "x"}, sim::EcMode::Follow},
        {{name, "p", "x", "/j"}, sim::EcMode::ClosedExitAlt},
        {{name, "p", "x", "/jump", "more"}, sim::EcMode::ClosedExitAlt},
        {{name, "p", "x", "/J"}, sim::EcMode::Follow},
        {{name, "p", "x", "j"}, sim::EcMode::Follow},
        {{name, "x", "y", "/j"}, sim::EcMode::ClosedExitAlt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.size());
        Rig rig;
        rig.SetEcModule("TESTMOD ");
        EXPECT_EQ(rig.Run(c.args), EXIT_OK);
        EXPECT_EQ(rig.Ec().Mode(), c.mode);
        EXPECT_EQ(rig.Ec().Stats().AfterClose, 0u);
        // The closing command is one byte with its handshake, and the last.
        std::string lines = rig.Trace().Lines();
        if (c.mode != sim::EcMode::Follow) {
            EXPECT_TRUE(lines.ends_with(c.mode == sim::EcMode::ClosedExit ? "out 66 fe\nin 66 00\n"
                                                                          : "out 66 fc\nin 66 00\n"));
        }
        EXPECT_EQ(rig.Output().find("No closing command"), std::string::npos);
    }
}

TEST(WholeRun, ChecksumCarriesTheModuleCheckVerdict)
{
    std::vector<uint8_t> image = MakeImage(0x3000, "KB930 A");
    std::string name = WriteTempFile("sum.bin", image);
    uint32_t sum = ByteSum(image, image.size());
    struct Case {
        std::vector<std::string> args;
        std::string ecName;
        uint32_t extra;
    } cases[] = {
        {{name}, "KB930 A", 0x80},   // matched at the space
        {{name, "p"}, "OTHER", 0},  // skipped
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.SetEcModule(c.ecName);
        ASSERT_EQ(rig.Run(c.args), EXIT_OK);
        EXPECT_TRUE(rig.Output().ends_with(ChecksumLine(sum + c.extra))) << rig.Output();
    }

    // A name without a space, equal in all 32 bytes: the check leaves 0.
    std::vector<uint8_t> full = MakeImage(0x3000, "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345");
    std::string fullName = WriteTempFile("full.bin", full);
    Rig rig;
    rig.SetEcModule("ABCDEFGHIJKLMNOPQRSTUVWXYZ012345");
    ASSERT_EQ(rig.Run({fullName}), EXIT_OK);
    EXPECT_TRUE(rig.Output().ends_with(ChecksumLine(ByteSum(full, full.size()))));
}

// Every part of the catalog, on a three-block image with a short last block
// (one short block on parts too small for three: the image must fit the chip
// for the comparison to mean anything).
class EveryPart : public ::testing::TestWithParam<int> {};

TEST_P(EveryPart, WholeRunLeavesTheImageInTheChip)
{
    const sim::ChipInfo& chip = sim::ChipAt(GetParam());
    SCOPED_TRACE(chip.Part->Name);
    const int size = chip.Part->Size >= 0x30000 ? 0x2A345 : 0xA345;
    const int blocks = CeilDiv(size, 0x10000);
    std::vector<uint8_t> image = MakeImage(size, "EVERY part");
    std::string name = WriteTempFile("every.bin", image);
    Rig rig(&chip);
    rig.SetEcModule("EVERY part");
    rig.StopTracing();
    int status = rig.Run({name});
    if (!chip.FitsAlgorithms) {
        // The real part would refuse what the algorithms send it.
        EXPECT_EQ(status, EXIT_FLASH_FAILED);
        EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::Follow);
        EXPECT_NE(rig.Output().find("No closing command sent"), std::string::npos);
        return;
    }
    ASSERT_EQ(status, EXIT_OK) << rig.Output();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), rig.Flash().begin()));
    EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::ClosedExit);
    EXPECT_EQ(rig.Ec().Stats().Unexpected, 0u);
    EXPECT_EQ(rig.Ec().Stats().DroppedWrites, 0u);
    EXPECT_TRUE(rig.Output().ends_with(ChecksumLine(ByteSum(image, size) + 0x80)));

    std::vector<BlockMarks> marks = MarksPerBlock(rig.Output());
    ASSERT_EQ(static_cast<int>(marks.size()), blocks);
    bool wholeBlocks =
        chip.Method != sim::ProgramMethod::Page || (chip.Part->Rdid[0] == 0xC2 && chip.Part->Rdid[2] == 0x10);
    for (int b = 0; b < blocks; ++b) {
        BlockMarks expected = ExpectedPageMarks(size, b);
        if (wholeBlocks)
            expected.Program = 22;
        EXPECT_EQ(marks[b], expected) << "block " << b;
    }
    // Whole-block algorithms write the 0xFF fill behind the image's end.
    if (wholeBlocks) {
        for (int a = size; a < blocks * 0x10000; ++a)
            ASSERT_EQ(rig.Flash()[a], 0xFF) << a;
    }
}

INSTANTIATE_TEST_SUITE_P(Catalog, EveryPart, ::testing::Range(0, sim::ChipCount()),
                         [](const ::testing::TestParamInfo<int>& param) {
                             std::string name = sim::ChipAt(param.param).Part->Name;
                             for (char& c : name)
                                 if (!isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

}  // namespace
}  // namespace zar::test
