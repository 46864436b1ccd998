// The closing rule as whole runs: the EC gets its closing command only when
// the chip is known to hold a whole image (the run verified all it wrote, or
// it wrote nothing and the EC answered the module check). Every other ending,
// a refusal included, leaves the EC in follow mode with a command that can
// finish, and that command does.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Applications/Main/Main.h"
#include "Harness.h"
#include "ec/EcChannel.h"

namespace zar::test {
namespace {

bool Closed(Rig& rig)
{
    return rig.Ec().Mode() == sim::EcMode::ClosedExit || rig.Ec().Mode() == sim::EcMode::ClosedExitAlt;
}

// Whether the chip holds the image but for the ranges the command keeps.
bool HoldsImage(Rig& rig, const std::vector<uint8_t>& image, const std::vector<std::string>& words)
{
    std::vector<bool> kept(image.size());
    for (size_t i = 0; i + 1 < words.size(); ++i) {
        if (words[i] != "/keep")
            continue;
        size_t dash = words[i + 1].find('-');
        size_t start = std::stoul(words[i + 1].substr(0, dash), nullptr, 16);
        size_t end = std::stoul(words[i + 1].substr(dash + 1), nullptr, 16);
        for (size_t at = start; at <= end && at < kept.size(); ++at)
            kept[at] = true;
    }
    for (size_t i = 0; i < image.size(); ++i) {
        if (!kept[i] && rig.Flash()[i] != image[i])
            return false;
    }
    return true;
}

// The first command, then each command the console gives while the EC stays
// in follow mode (faults gone), up to four runs. The EC may be closed only
// with the image in the chip. Returns the commands run and the last status.
std::vector<std::vector<std::string>> RunUntilClosed(Rig& rig, const std::vector<uint8_t>& image,
                                                     std::vector<std::string> words, int* status)
{
    std::vector<std::vector<std::string>> commands;
    for (int run = 0; run < 4 && !words.empty(); ++run) {
        commands.push_back(words);
        *status = rig.Run(words);
        if (Closed(rig)) {
            EXPECT_TRUE(HoldsImage(rig, image, words)) << "closed with the image not in the chip\n" << rig.Output();
            break;
        }
        words = AdvisedCommand(rig.Output());
        rig.Ec().NextRun();
        rig.Chip().NextRun();
    }
    return commands;
}

// On a part that erases only whole 64 KiB blocks, a block holding a kept
// range can't be written so that a cut leaves it for a rerun to finish: the
// plan is refused before its first write. A rerun that skips the module
// check can't show the chip intact, so it leaves the EC in follow mode and
// gives the command that finishes without that /keep, saying so. Cut at the
// point where a run used to program a blank sector of the kept block, at the
// read and at the refusal, the EC is never closed on a half-written block
// (222,000 writes: inside block 1 as a run used to write it).
TEST(ClosingRule, AKeptRangeInABlockOnlyAWholeEraseClears)
{
    std::vector<uint8_t> image = MakeImage(0x12000);
    std::string name = WriteTempFile("keep-block.bin", image);
    for (uint64_t cut : {~0ull, 2000ull, 60000ull, 222000ull}) {
        SCOPED_TRACE(cut);
        sim::EcConfig ec;
        ec.Faults.IbfStuckAfterWrites = cut;
        Rig rig(sim::FindChip("M25P40"), ec);
        rig.StopTracing();
        std::fill(rig.Flash().begin() + 0x10000, rig.Flash().begin() + 0x20000, 0xFF);
        SetWaitLimits({2000, 2000});
        int status = -1;
        auto commands = RunUntilClosed(rig, image, {"/keep", "10000-10FFF", "/update", name, "p"}, &status);
        SetWaitLimits({0, 0});
        EXPECT_EQ(status, EXIT_OK) << rig.Output();
        EXPECT_TRUE(Closed(rig));
        EXPECT_TRUE(std::equal(image.begin(), image.end(), rig.Flash().begin()));
        EXPECT_EQ(commands.back(), (std::vector<std::string>{"/update", name, "p"}));
    }

    // The refusal itself: before anything is written, with its reason and
    // the command that finishes.
    Rig rig(sim::FindChip("M25P40"));
    rig.DecodeSpi();
    std::fill(rig.Flash().begin() + 0x10000, rig.Flash().begin() + 0x20000, 0xFF);
    EXPECT_EQ(rig.Run({"/keep", "10000-10FFF", "/update", name, "p"}), EXIT_BAD_IMAGE);
    EXPECT_NE(rig.Output().find("KEEP ERROR!! This chip erases only whole 64 KiB blocks, and block 1 holds a kept "
                                "range beside sectors to write"),
              std::string::npos)
        << rig.Output();
    EXPECT_NE(rig.Output().find("  (without /keep 10000-10FFF: "), std::string::npos);
    EXPECT_TRUE(FlashWrites(rig.SpiLog()).empty());
    EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::Follow);
}

// Refused after follow-mode entry with the module check skipped: nothing
// written, but nothing shows that the chip holds a whole image either (p is
// how a run cut short is finished). The EC stays in follow mode, and the
// command given changes what would be refused again, saying so.
TEST(ClosingRule, RefusalsWithoutTheModuleCheckLeaveTheEcInFollowMode)
{
    std::vector<uint8_t> image = MakeImage(0x12345);
    std::string name = WriteTempFile("refusal.bin", image);
    std::string large = WriteTempFile("refusal-large.bin", MakeImage(0x80001));
    struct Case {
        std::vector<std::string> Words;
        const char* Says;
        std::vector<std::string> Advised;
        std::vector<std::string> Notes;
    } cases[] = {
        {{large, "p"}, "IMAGE TOO LARGE!!", {"IMAGE", "p"}, {"\r\n  (IMAGE: "}},
        {{"/update", large, "p", "/j"}, "IMAGE TOO LARGE!!", {"/update", "IMAGE", "p", "/j"}, {"\r\n  (IMAGE: "}},
        {{"/keep", "70000-8FFFF", "/keep", "90000-9FFFF", "/update", name, "p"},
         "KEEP ERROR!! /keep 70000-8FFFF reaches past the chip's end",
         {"/keep", "70000-7FFFF", "/update", name, "p"},
         {"\r\n  (/keep 70000-8FFFF cut to 70000-7FFFF, the chip's end)\r\n",
          "\r\n  (without /keep 90000-9FFFF: it lies past the chip's end)\r\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Words[0]);
        Rig rig;
        rig.DecodeSpi();
        EXPECT_EQ(rig.Run(c.Words), EXIT_BAD_IMAGE);
        EXPECT_NE(rig.Output().find(c.Says), std::string::npos) << rig.Output();
        EXPECT_TRUE(FlashWrites(rig.SpiLog()).empty());
        EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::Follow);
        EXPECT_NE(rig.Output().find("No closing command sent: the EC stays in follow mode"), std::string::npos);
        EXPECT_EQ(AdvisedCommand(rig.Output()), c.Advised) << rig.Output();
        for (const std::string& note : c.Notes)
            EXPECT_NE(rig.Output().find(note), std::string::npos) << rig.Output();
    }

    // The cut range finishes and keeps what it can.
    Rig rig;
    rig.StopTracing();
    std::vector<uint8_t> before = rig.Flash();
    ASSERT_EQ(rig.Run({"/keep", "70000-8FFFF", "/update", name, "p"}), EXIT_BAD_IMAGE);
    rig.Ec().NextRun();
    EXPECT_EQ(rig.Run(AdvisedCommand(rig.Output())), EXIT_OK) << rig.Output();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), rig.Flash().begin()));
    EXPECT_TRUE(std::equal(before.begin() + 0x70000, before.end(), rig.Flash().begin() + 0x70000));
    EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::ClosedExit);

    // With the module check answered, the same refusal hands the EC back.
    Rig checked;
    checked.StopTracing();
    EXPECT_EQ(checked.Run({"/keep", "70000-8FFFF", "/update", name}), EXIT_BAD_IMAGE);
    EXPECT_EQ(checked.Ec().Mode(), sim::EcMode::ClosedExit);
    EXPECT_EQ(AdvisedCommand(checked.Output()), std::vector<std::string>{});
}

// "/j" as /update's last word closes with 0xFC, as it does for /verify; the
// command given after a cut keeps it.
TEST(ClosingRule, SlashJEndsAnUpdateAsItEndsAVerify)
{
    std::vector<uint8_t> image = MakeImage(0x12345);
    std::string name = WriteTempFile("alt.bin", image);
    Rig equal;
    equal.StopTracing();
    std::copy(image.begin(), image.end(), equal.Flash().begin());
    EXPECT_EQ(equal.Run({"/update", name, "p", "/j"}), EXIT_OK) << equal.Output();
    EXPECT_EQ(equal.Ec().Mode(), sim::EcMode::ClosedExitAlt);

    sim::EcConfig cut;
    cut.Faults.IbfStuckAfterWrites = 20000;
    Rig rig(nullptr, cut);
    rig.StopTracing();
    SetWaitLimits({2000, 2000});
    EXPECT_EQ(rig.Run({"/update", name, "/j"}), EXIT_NO_ANSWER);
    SetWaitLimits({0, 0});
    EXPECT_EQ(AdvisedCommand(rig.Output()), (std::vector<std::string>{"/update", name, "p", "/j"}));
    rig.Ec().NextRun();
    EXPECT_EQ(rig.Run(AdvisedCommand(rig.Output())), EXIT_OK);
    EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::ClosedExitAlt);
}

}  // namespace
}  // namespace zar::test
