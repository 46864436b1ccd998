// A chip that can't be written is named before anything is erased: one
// whose protection held through the unprotect (the status register its own
// wait read back, no read added), and a part the part table says the
// command can't write. "WRITE PROTECTED!!", status 5, no erase on the bus;
// the closing rule hands the EC back where the module check showed it ran
// its firmware (nothing was written), and the advice names the change a
// rerun needs, never the same command as if it could succeed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Applications/Main/Main.h"
#include "Applications/Main/RunState.h"
#include "Harness.h"
#include "flash/FlashPrimitives.h"
#include "flash/SpiOpcodes.h"
#include "tools/zar-sim/SimRerun.h"

namespace zar::test {
namespace {

constexpr int IMAGE_SIZE = 0x2A345;

// The erases and programs the run sent; the unprotect's WRSR is allowed.
std::vector<std::string> ErasesAndPrograms(Rig& rig)
{
    std::vector<std::string> found;
    for (const std::string& line : FlashWrites(rig.SpiLog()))
        if (!line.starts_with("WRSR "))
            found.push_back(line);
    return found;
}

// The rerun zar-sim's --rerun makes of the advice: the words after "zar".
std::vector<std::string> RerunAsAdvised(const std::vector<std::string>& args)
{
    std::vector<std::string> storage = {"zar"};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv, out(storage.size() + 2);
    for (std::string& word : storage)
        argv.push_back(word.data());
    int count = sim::RerunCommandLine(static_cast<int>(argv.size()), argv.data(), out.data());
    return std::vector<std::string>(out.begin() + 1, out.begin() + count);
}

class Protection : public ::testing::Test {
protected:
    void SetUp() override
    {
        image_ = MakeImage(IMAGE_SIZE);
        name_ = WriteTempFile("guarded.bin", image_);
    }

    std::unique_ptr<Rig> Locked(const char* part = "W25X40")
    {
        sim::ChipConfig locked;
        locked.Faults.ProtectionLocked = true;
        auto rig = std::make_unique<Rig>(sim::FindChip(part), sim::EcConfig{}, locked);
        rig->SetEcModule("TESTMOD ");
        rig->DecodeSpi();
        return rig;
    }

    std::vector<uint8_t> image_;
    std::string name_;
};

// SRWD with WP# held low: with p the EC stays in follow mode, and the rerun
// with p comes only behind releasing the pin; without p the module check
// showed a running EC, nothing was written, and it is handed back.
TEST_F(Protection, ALockedChipIsNamedAndNothingIsErased)
{
    for (bool skip : {true, false}) {
        SCOPED_TRACE(skip ? "with p" : "with the module check");
        auto rig = Locked();
        std::vector<uint8_t> before = rig->Flash();
        std::vector<std::string> args = {name_};
        if (skip)
            args.push_back("p");
        ASSERT_EQ(rig->Run(args), EXIT_WRITE_PROTECTED) << rig->Output();
        const std::string& out = rig->Output();
        EXPECT_NE(out.find("WRITE PROTECTED!! The status register reads 9E after the unprotect: its protect bits"
                           " (1C) stay set. Nothing was erased or written.\r\n"
                           "Held by          : SRWD (bit 7) with the chip's WP# pin held low"),
                  std::string::npos)
            << out;
        EXPECT_EQ(ErasesAndPrograms(*rig), std::vector<std::string>{});
        EXPECT_EQ(rig->Flash(), before);
        EXPECT_EQ(out.find("Run again with p"), std::string::npos);
        size_t change = out.find("Release the chip's WP# pin first");
        ASSERT_NE(change, std::string::npos) << out;
        EXPECT_LT(change, out.find("\r\n  zar "));
        EXPECT_EQ(AdvisedCommand(out), args.size() == 2 ? args : std::vector<std::string>{name_});
        EXPECT_EQ(rig->Ec().Mode(), skip ? sim::EcMode::Follow : sim::EcMode::ClosedExit);
    }
}

// /update finds it at its unprotect, after the plan: the same.
TEST_F(Protection, UpdateOnALockedChipErasesNothing)
{
    auto rig = Locked("SST25VF080B");
    ASSERT_EQ(rig->Run({"/update", name_, "p"}), EXIT_WRITE_PROTECTED) << rig->Output();
    EXPECT_NE(rig->Output().find("WRITE PROTECTED!! The status register reads "), std::string::npos);
    EXPECT_EQ(ErasesAndPrograms(*rig), std::vector<std::string>{});
    EXPECT_EQ(AdvisedCommand(rig->Output()), (std::vector<std::string>{"/update", "guarded.bin", "p"}));
    EXPECT_EQ(rig->Ec().Mode(), sim::EcMode::Follow);
}

// The S25FL004A has no 4 KiB erase, which the classic run sends: refused
// before the first erase, and sent to /update, which erases it by 64 KiB
// blocks; that command, run as advised, writes the image.
TEST_F(Protection, APartTheClassicRunCantWriteGoesToUpdate)
{
    Rig rig(sim::FindChip("S25FL004A"));
    rig.DecodeSpi();
    ASSERT_EQ(rig.Run({name_, "p"}), EXIT_WRITE_PROTECTED) << rig.Output();
    EXPECT_NE(rig.Output().find("WRITE PROTECTED!! This command can't write the S25FL004A; its status register reads"
                                " 00. Nothing was erased or written.\r\n"
                                "Held by          : the part: it has no 4 KiB sector erase (0x20)"),
              std::string::npos)
        << rig.Output();
    EXPECT_EQ(FlashWrites(rig.SpiLog()), std::vector<std::string>{});
    std::vector<std::string> advised = {"/update", "guarded.bin", "p"};
    EXPECT_EQ(AdvisedCommand(rig.Output()), advised);
    EXPECT_EQ(RerunAsAdvised({name_, "p"}), advised);
    EXPECT_EQ(rig.Run(advised), EXIT_OK) << rig.Output();
    EXPECT_TRUE(std::equal(image_.begin(), image_.end(), rig.Flash().begin()));
}

// A part no command of the flasher writes (the F25L008A takes one byte per
// 0x02): refused with nothing to type; the EC answered the module check and
// is handed back.
TEST_F(Protection, APartNoCommandWritesIsRefusedWithNothingToType)
{
    Rig rig(sim::FindChip("F25L008A"));
    rig.DecodeSpi();
    std::vector<uint8_t> before = rig.Flash();
    ASSERT_EQ(rig.Run({"/update", name_}), EXIT_WRITE_PROTECTED) << rig.Output();
    EXPECT_NE(rig.Output().find("No command of this flasher writes the F25L008A"), std::string::npos);
    EXPECT_EQ(AdvisedCommand(rig.Output()), std::vector<std::string>{});
    EXPECT_EQ(FlashWrites(rig.SpiLog()), std::vector<std::string>{});
    EXPECT_EQ(rig.Flash(), before);
    EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::ClosedExit);
}

// What the part table says of every catalog part agrees with what the
// simulated part takes (the catalog's own test holds FitsAlgorithms to it),
// for the classic run's erase.
TEST(PartTableFit, TheTableKnowsWhichPartsTheClassicRunWrites)
{
    for (int i = 0; i < sim::ChipCount(); ++i) {
        const sim::ChipInfo& info = sim::ChipAt(i);
        SCOPED_TRACE(info.Part->Name);
        FlashChip chip = {};
        const FlashPart& part = *info.Part;
        const uint8_t* id = part.AnswersRdid ? part.Rdid : part.ResId;
        chip.Id[0] = id[0];
        chip.Id[1] = id[1];
        chip.Id[2] = part.AnswersRdid ? id[2] : 0;
        chip.ByRes = !part.AnswersRdid;
        chip.Known = {true, &part, part.Size, nullptr};
        uint8_t erase = chip.Maker() == MAKER_ST ? BLOCK_ERASE : SECTOR_ERASE;
        bool sameIdAsAnEarlierRow = false;
        for (int k = 0; k < FlashPartCount(); ++k)
            sameIdAsAnEarlierRow = sameIdAsAnEarlierRow || NextPartWithSameId(FlashPartAt(k)) == &part;
        if (!sameIdAsAnEarlierRow) {  // the flasher never takes a part for a later row
            EXPECT_EQ(PartFitFor(chip, erase) == PartFit::Writable, info.FitsAlgorithms);
        }
    }
}

}  // namespace
}  // namespace zar::test
