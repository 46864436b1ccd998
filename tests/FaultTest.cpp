// Failing safely: every injected fault, on a page-program part and on an
// auto-address-increment part, at the first block and at a later one. The run
// must end, say what went wrong, return the right status and never send the
// closing command unless every block verified.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "Applications/Main/Main.h"
#include "Applications/Main/RunState.h"
#include "Harness.h"
#include "ec/EcChannel.h"
#include "flash/SpiOpcodes.h"
#include "platform/Faults.h"

namespace zar::test {
namespace {

constexpr int IMAGE_SIZE = 0x2A345;  // three blocks, the last one short

const sim::ChipInfo* PagePart()
{
    return &sim::DefaultChip();
}

const sim::ChipInfo* AaiPart()
{
    return FindPart([](const sim::ChipInfo& c) { return c.FitsAlgorithms && c.Method == sim::ProgramMethod::AaiWord; });
}

struct Hardware {
    sim::EcConfig ec;
    sim::ChipConfig chip;
};

class Faults : public ::testing::TestWithParam<bool> {  // true: the AAI part
protected:
    void SetUp() override
    {
        chip_ = GetParam() ? AaiPart() : PagePart();
        ASSERT_NE(chip_, nullptr);
        image_ = MakeImage(IMAGE_SIZE);
        name_ = WriteTempFile("fault.bin", image_);
        SetWaitLimits({2000, 2000});  // a dead EC or chip gives up quickly
    }
    void TearDown() override
    {
        SetWaitLimits({0, 0});
        SetReadFailOffset(-1);
        SetAllocationFailAfter(-1);
    }

    std::unique_ptr<Rig> Run(const Hardware& setup, int expectedStatus, const std::string& message)
    {
        auto rig = std::make_unique<Rig>(chip_, setup.ec, setup.chip);
        rig->DecodeSpi();
        int status = rig->Run({name_, "p"});
        EXPECT_EQ(status, expectedStatus) << rig->Output();
        EXPECT_NE(rig->Output().find(message), std::string::npos) << rig->Output();
        if (expectedStatus != EXIT_OK) {
            EXPECT_NE(rig->Ec().Mode(), sim::EcMode::ClosedExit);
            EXPECT_NE(rig->Ec().Mode(), sim::EcMode::ClosedExitAlt);
        }
        EXPECT_EQ(rig->Ec().Stats().AfterClose, 0u);
        // A block that failed is no reason to leave a transaction open: only
        // a dead EC may cut one short.
        if (expectedStatus == EXIT_FLASH_FAILED) {
            for (const std::string& line : rig->SpiLog())
                EXPECT_EQ(line.find("(open at end)"), std::string::npos) << line;
        }
        return rig;
    }

    // What a good run of the first block alone costs, so a fault can be
    // placed in the second block.
    sim::SimEc::Counters FirstBlockCost()
    {
        std::vector<uint8_t> one(image_.begin(), image_.begin() + 0x10000);
        std::string name = WriteTempFile("one.bin", one);
        Rig rig(chip_);
        rig.StopTracing();
        EXPECT_EQ(rig.Run({name, "p"}), EXIT_OK);
        return rig.Ec().Stats();
    }

    bool BlockMatches(Rig& rig, int block)
    {
        int end = std::min(IMAGE_SIZE, (block + 1) * 0x10000);
        return std::equal(image_.begin() + block * 0x10000, image_.begin() + end,
                          rig.Flash().begin() + block * 0x10000);
    }

    const sim::ChipInfo* chip_ = nullptr;
    std::vector<uint8_t> image_;
    std::string name_;
};

TEST_P(Faults, EcThatStopsTakingBytes)
{
    Hardware first;
    first.ec.Faults.IbfStuckAfterWrites = 300;
    auto rig = Run(first, EXIT_NO_ANSWER, "NO ANSWER!! The EC input buffer wait ran out at block 0.");
    EXPECT_NE(rig->Output().find("No closing command sent"), std::string::npos);
    EXPECT_EQ(rig->Ec().Stats().Writes, 301u);  // nothing after the byte it never took

    Hardware later;
    later.ec.Faults.IbfStuckAfterWrites = FirstBlockCost().Writes + 300;
    rig = Run(later, EXIT_NO_ANSWER, "The EC input buffer wait ran out at block 1.");
    EXPECT_TRUE(BlockMatches(*rig, 0));
    EXPECT_NE(rig->Output().find("\r\nCurrent F/W Checksum : "), std::string::npos);
}

TEST_P(Faults, EcThatStopsAnswering)
{
    Hardware first;
    first.ec.Faults.ObfStuckAfterAnswers = 40;
    Run(first, EXIT_NO_ANSWER, "The EC output buffer wait ran out at block 0.");

    Hardware later;
    later.ec.Faults.ObfStuckAfterAnswers = FirstBlockCost().Answers + 40;
    auto rig = Run(later, EXIT_NO_ANSWER, "The EC output buffer wait ran out at block 1.");
    EXPECT_TRUE(BlockMatches(*rig, 0));

    Hardware entry;  // no answer to the follow-mode entry at all
    entry.ec.Faults.ObfStuckAfterAnswers = 0;
    rig = Run(entry, EXIT_NO_ANSWER, "The EC output buffer wait ran out before the first block.");
    EXPECT_EQ(rig->Output().find("EC ACK Fail"), std::string::npos);
}

TEST_P(Faults, WrongAcknowledgementIsOnlyReported)
{
    Hardware setup;
    setup.ec.FollowAck = 0x00;
    auto rig = Run(setup, EXIT_OK, "\r\nEC ACK Fail. \r\n\r\n");
    EXPECT_EQ(CountOf(rig->Output(), "EC ACK Fail"), 1u);
    EXPECT_EQ(rig->Ec().Mode(), sim::EcMode::ClosedExit);
    EXPECT_TRUE(BlockMatches(*rig, 0) && BlockMatches(*rig, 1) && BlockMatches(*rig, 2));
}

TEST_P(Faults, AbsentChip)
{
    // Identification tells it (ChipGuardTest), before the flash-busy bound.
    auto rig = std::make_unique<Rig>(chip_);
    rig->DetachChip();
    rig->StopTracing();
    EXPECT_EQ(rig->Run({name_, "p"}), EXIT_NO_ANSWER);
    EXPECT_NE(rig->Output().find("NO FLASH CHIP!!"), std::string::npos) << rig->Output();
    EXPECT_EQ(rig->Ec().Mode(), sim::EcMode::Follow);  // with p, nothing shows the chip holds a whole image
}

TEST_P(Faults, ChipThatStaysBusy)
{
    Hardware first;
    first.chip.Faults.BusyForeverAfterOps = 0;
    auto rig = Run(first, EXIT_NO_ANSWER, "The flash busy wait ran out at block 0.");

    Rig counter(chip_);
    counter.StopTracing();
    std::vector<uint8_t> one(image_.begin(), image_.begin() + 0x10000);
    std::string name = WriteTempFile("one.bin", one);
    ASSERT_EQ(counter.Run({name, "p"}), EXIT_OK);
    const auto& ops = counter.Chip().Stats();

    Hardware later;
    later.chip.Faults.BusyForeverAfterOps = ops.Erases + ops.Programs + ops.StatusWrites + 1;
    rig = Run(later, EXIT_NO_ANSWER, "The flash busy wait ran out at block 1.");
    EXPECT_TRUE(BlockMatches(*rig, 0));
}

// The status register the unprotect's wait read back shows the protection
// held: the run stops before the first erase, names it, and (with p, the EC
// stays in follow mode) gives the rerun only behind the change it needs.
TEST_P(Faults, ChipWhoseProtectionStays)
{
    Hardware setup;
    setup.chip.Faults.ProtectionLocked = true;
    auto rig = Run(setup, EXIT_WRITE_PROTECTED, "WRITE PROTECTED!! The status register reads ");
    EXPECT_NE(rig->Output().find("Held by          : SRWD (bit 7) with the chip's WP# pin held low"),
              std::string::npos);
    EXPECT_EQ(CountOf(rig->Output(), "Block Number"), 1u);
    EXPECT_EQ(CountOf(rig->Output(), "Eraseing..."), 0u);
    EXPECT_EQ(rig->Chip().Stats().Erases + rig->Chip().Stats().Programs, 0u);
    for (const std::string& line : FlashWrites(rig->SpiLog()))
        EXPECT_TRUE(line.starts_with("WRSR ")) << line;
    EXPECT_EQ(rig->Ec().Mode(), sim::EcMode::Follow);
    EXPECT_EQ(rig->Output().find("Do not switch off. Run again with p"), std::string::npos);
    EXPECT_NE(rig->Output().find("Release the chip's WP# pin first"), std::string::npos);
}

TEST_P(Faults, StuckBits)
{
    for (int block : {0, 1, 2}) {
        SCOPED_TRACE(block);
        uint32_t address = block * 0x10000 + 0x1234;
        Hardware setup;
        setup.chip.Faults.HasStuckBits = true;
        setup.chip.Faults.StuckAddress = address;
        setup.chip.Faults.StuckMask = static_cast<uint8_t>(~image_[address]);  // every bit the image clears
        auto rig = Run(setup, EXIT_FLASH_FAILED, "Verify...        : == -- Verify Fail. \r\n");
        EXPECT_EQ(CountOf(rig->Output(), "Verify Fail."), 1u);
        for (int other = 0; other < 3; ++other)
            EXPECT_EQ(BlockMatches(*rig, other), other != block) << other;
        EXPECT_EQ(rig->Ec().Mode(), sim::EcMode::Follow);
    }
}

TEST_P(Faults, AllocationFailsBeforeFollowMode)
{
    // The image's room, then the block buffer's.
    struct Case {
        int32_t after;
        const char* message;
    } cases[] = {{0, "OUT OF MEMORY!! No room for the image's 172869 bytes."},
                 {1, "OUT OF MEMORY!! No room for the 64 KiB block buffers."}};
    for (const Case& c : cases) {
        SetAllocationFailAfter(c.after);
        auto rig = Run({}, EXIT_BAD_IMAGE, c.message);
        EXPECT_TRUE(LastRunOutOfMemory());
        EXPECT_EQ(rig->Ec().Mode(), sim::EcMode::Normal);
    }
}

// The image is read whole before the EC is asked anything: a read that fails
// in its first, a middle or its last block refuses every road that takes an
// image with status 2, the offset named, not one port access and the chip as
// it was; a backup file claimed for the run is not left behind.
TEST(ImageReadFault, RefusesEveryRoadBeforeAnyPortAccess)
{
    std::string name = WriteTempFile("unreadable.bin", MakeImage(IMAGE_SIZE));
    const std::vector<std::vector<std::string>> roads = {
        {name},
        {name, "p", "x", "/j"},
        {"/update", name, "p"},
        {"/backup", "unread-backup.bin", "/update", name},
        {"/verify", name},
    };
    for (int offset : {0x100, 0x1F000, IMAGE_SIZE - 1}) {
        char message[96];
        snprintf(message, sizeof message, "FILE READ ERROR!! The image could not be read past offset %X of 2A345 bytes.",
                 offset);
        for (const std::vector<std::string>& road : roads) {
            SCOPED_TRACE(road[0] + " at " + std::to_string(offset));
            Rig rig;
            std::vector<uint8_t> before = rig.Flash();
            SetReadFailOffset(offset);
            int status = rig.Run(road);
            SetReadFailOffset(-1);
            EXPECT_EQ(status, EXIT_BAD_IMAGE);
            EXPECT_NE(rig.Output().find(message), std::string::npos) << rig.Output();
            EXPECT_FALSE(rig.Trace().TouchedPorts());
            EXPECT_TRUE(rig.Flash() == before);
            EXPECT_TRUE(RunState.ImageReadFailed);
            EXPECT_FALSE(LastRunOutOfMemory());
            EXPECT_FALSE(std::filesystem::exists(TempPath("unread-backup.bin")));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Parts, Faults, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& part) { return part.param ? "Aai" : "Page"; });

// Drops the erase commands aimed at one block, as a worn or failing sector
// would ignore them.
class EraseDropper : public sim::SpiDevice {
public:
    EraseDropper(sim::SpiDevice& chip, uint8_t block) : chip_(chip), block_(block) {}
    void Select() override
    {
        chip_.Select();
        count_ = 0;
        held_ = false;
        dropping_ = false;
    }
    void Deselect() override { chip_.Deselect(); }
    void Write(uint8_t value) override
    {
        ++count_;
        if (count_ == 1 && (value == SECTOR_ERASE || value == BLOCK_ERASE)) {
            held_ = true;
            opcode_ = value;
            return;
        }
        if (count_ == 2 && held_) {
            held_ = false;
            if (value == block_) {
                dropping_ = true;
                return;
            }
            chip_.Write(opcode_);
        }
        if (!dropping_)
            chip_.Write(value);
    }
    uint8_t Read() override { return chip_.Read(); }

private:
    sim::SpiDevice& chip_;
    uint8_t block_;
    int count_ = 0;
    bool held_ = false, dropping_ = false;
    uint8_t opcode_ = 0;
};

TEST(FailedBlock, LaterBlocksStillEndAtTheImagesEnd)
{
    std::vector<uint8_t> image = MakeImage(IMAGE_SIZE);
    std::string name = WriteTempFile("skip.bin", image);
    Rig rig;
    rig.StopTracing();
    EraseDropper dropper(rig.Chip(), 1);
    rig.Ec().AttachChip(&dropper);
    EXPECT_EQ(rig.Run({name, "p"}), EXIT_FLASH_FAILED);

    std::vector<BlockMarks> marks = MarksPerBlock(rig.Output());
    ASSERT_EQ(marks.size(), 3u);
    EXPECT_EQ(marks[1].Program, -1);  // block 1 skipped after its blank check
    EXPECT_EQ(marks[1].Verify, -1);
    // Block 2 is handled as in a good run: its erase, checks and pages stop
    // at the image's end, not 64 KiB later.
    EXPECT_EQ(marks[2], (BlockMarks{16, 11, 11, 11}));
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 0x10000, rig.Flash().begin()));
    EXPECT_TRUE(std::equal(image.begin() + 0x20000, image.end(), rig.Flash().begin() + 0x20000));
    EXPECT_EQ(RunState.VerifiedBytes, IMAGE_SIZE);
    EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::Follow);
    EXPECT_NE(rig.Output().find("No closing command sent"), std::string::npos);
}

}  // namespace
}  // namespace zar::test
