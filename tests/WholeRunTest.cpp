// Whole runs through the simulated EC and chip: what the chip holds after,
// what the console said, the closing command and the exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "Applications/Main/Main.h"
#include "Applications/Main/RunState.h"
#include "Harness.h"
#include "flash/PartTable.h"

namespace zar::test {
namespace {

// Every byte from `from` up to `to` is erased: the fill behind the image's end
// is 0xFF whatever the programming method wrote there.
void ExpectErased(const std::vector<uint8_t>& flash, size_t from, size_t to)
{
    auto bad = std::find_if(flash.begin() + from, flash.begin() + to, [](uint8_t b) { return b != 0xFF; });
    EXPECT_EQ(bad, flash.begin() + to) << "not erased at " << (bad - flash.begin());
}

std::string ChecksumLine(uint32_t sum)
{
    char line[64];
    snprintf(line, sizeof line, "\r\nCurrent F/W Checksum : %04X\r\n", sum);
    return line;
}

// The marks of each block (erase, blank check, program, verify). The erase
// stops only where the image's size in KiB is a multiple of 4 inside the
// block; a size that ends between two 4 KiB steps has all 16 erased.
TEST(WholeRun, ImageSizesEndEveryOperationAtTheImagesEnd)
{
    const BlockMarks full = {16, 16, 16, 16};
    struct Case {
        int size;
        std::vector<BlockMarks> marks;
    } cases[] = {
        {0x4001, {{16, 5, 5, 5}}},
        {0x8000, {{8, 8, 8, 8}}},
        {0x9000, {{9, 9, 9, 9}}},
        {0x10000, {full}},
        {0x10001, {full, {16, 1, 1, 1}}},
        {0x10180, {full, {16, 1, 1, 1}}},
        {0x11000, {full, {1, 1, 1, 1}}},
        {0x18000, {full, {8, 8, 8, 8}}},
        {0x20000, {full, full}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        std::vector<uint8_t> image = MakeImage(c.size);
        std::string name = WriteTempFile("sized.bin", image);
        Rig rig;
        rig.StopTracing();
        ASSERT_EQ(rig.Run({name, "p"}), EXIT_OK) << rig.Output();

        EXPECT_EQ(MarksPerBlock(rig.Output()), c.marks);
        EXPECT_TRUE(std::equal(image.begin(), image.end(), rig.Flash().begin()));
        size_t last = c.marks.size() - 1;
        ExpectErased(rig.Flash(), c.size, last * 0x10000 + c.marks[last].Erase * 0x1000);
        EXPECT_EQ(RunState.VerifiedBytes, c.size);
        EXPECT_EQ(RunState.ProgrammedBytes, c.size);
        EXPECT_TRUE(rig.Output().ends_with(ChecksumLine(ByteSum(image, image.size()))));
        EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::ClosedExit);
    }
}

// A slow, jittery EC and a chip whose busy time varies change how often the
// host polls, never what it writes; on each programming method (page, AAI
// word, AAI byte, chunked), a last block shorter than half a block.
TEST(WholeRun, RandomLatenciesGiveTheSameFlash)
{
    for (const sim::ChipInfo* chip : {&sim::DefaultChip(), sim::FindChip("SST25VF080B"), sim::FindChip("SST25LF040A"),
                                      sim::FindChip("MX25L512")}) {
        ASSERT_NE(chip, nullptr);
        SCOPED_TRACE(chip->Part->Name);
        std::vector<uint8_t> image = MakeImage(chip->Part->Size > 0x20000 ? 0x14321 : 0x4321);
        std::string name = WriteTempFile("jitter.bin", image);
        sim::EcConfig ec;
        ec.IbfDelay = {sim::ReadDelay::Random, 5, 7};
        ec.ObfDelay = {sim::ReadDelay::Random, 4, 11};
        sim::ChipConfig busy;
        busy.Busy = {sim::ReadDelay::Random, 9, 3};
        Rig rig(chip, ec, busy);
        rig.StopTracing();
        ASSERT_EQ(rig.Run({name, "p"}), EXIT_OK) << rig.Output();
        EXPECT_TRUE(std::equal(image.begin(), image.end(), rig.Flash().begin()));
        ExpectErased(rig.Flash(), image.size(), (image.size() + 0xFFFF) / 0x10000 * 0x10000);
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
class EveryPart : public ::testing::TestWithParam<int> {
protected:
    const sim::ChipInfo& Chip() const { return sim::ChipAt(GetParam()); }
    int ImageSize() const { return Chip().Part->Size >= 0x30000 ? 0x2A345 : 0xA345; }

    // For /update: a rig whose chip holds the image, the EC its module name.
    std::unique_ptr<Rig> ChipHoldingTheImage(const std::vector<uint8_t>& image)
    {
        auto rig = std::make_unique<Rig>(&Chip());
        rig->SetEcModule("EVERY part");
        std::copy(image.begin(), image.end(), rig->Flash().begin());
        rig->DecodeSpi();
        return rig;
    }
    // Whether /update can write the part at all: the flasher takes its ID for
    // this row (the PM25LV040 answers as the PM25LD040 does), and the part
    // takes the programs the flasher sends it: pages, or AAI on SST's parts
    // (the F25L008A is programmed by AAI, and its 0x02 writes one byte).
    bool Updatable() const
    {
        const FlashPart& part = *Chip().Part;
        for (int i = 0; i < FlashPartCount(); ++i)
            if (NextPartWithSameId(FlashPartAt(i)) == &part)
                return false;
        bool sst = (part.AnswersRdid ? part.Rdid[0] : part.ResId[0]) == 0xBF;
        return Chip().Method == sim::ProgramMethod::Page || sst;
    }
};

TEST_P(EveryPart, WholeRunLeavesTheImageInTheChip)
{
    const sim::ChipInfo& chip = sim::ChipAt(GetParam());
    SCOPED_TRACE(chip.Part->Name);
    const int size = chip.Part->Size >= 0x30000 ? 0x2A345 : 0xA345;
    const int blocks = size > 0x10000 ? 3 : 1;
    std::vector<uint8_t> image = MakeImage(size, "EVERY part");
    std::string name = WriteTempFile("every.bin", image);
    Rig rig(&chip);
    rig.SetEcModule("EVERY part");
    rig.StopTracing();
    std::vector<uint8_t> before = rig.Flash();
    int status = rig.Run({name});
    if (!chip.FitsAlgorithms) {
        // The real part would refuse what the algorithms send it. A part
        // the part table says so of is refused before the first erase; the
        // EC answered the module check and nothing was written, so it is
        // handed back. One the flasher takes for another keeps failing.
        if (status == EXIT_WRITE_PROTECTED) {
            EXPECT_NE(rig.Output().find("WRITE PROTECTED!! This command can't write the"), std::string::npos);
            EXPECT_EQ(rig.Flash(), before);
            EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::ClosedExit);
            return;
        }
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

    // Whole blocks: 16 sectors erased, the last one too (its size in KiB is
    // no multiple of 4); the last block has 11 marks of 4 KiB for 0xA345 bytes.
    // Whole-block algorithms (AAI, and chunks on MX25L512) program 22 marks.
    bool wholeBlocks =
        chip.Method != sim::ProgramMethod::Page || (chip.Part->Rdid[0] == 0xC2 && chip.Part->Rdid[2] == 0x10);
    std::vector<BlockMarks> expected(blocks, BlockMarks{16, 16, wholeBlocks ? 22 : 16, 16});
    expected.back() = {16, 11, wholeBlocks ? 22 : 11, 11};
    EXPECT_EQ(MarksPerBlock(rig.Output()), expected);
    ExpectErased(rig.Flash(), size, blocks * 0x10000);
}

// The erases /update sends when the sector at 0x3000 and all of block 1
// differ: each in the unit the part has, a 64 KiB block at once where it can.
std::vector<std::string> ErasesForOneSectorAndOneBlock(const FlashPart& part, bool twoBlocks)
{
    std::vector<std::string> erases = {part.SectorEraseUnit ? "SECTOR_ERASE 003000" : "BLOCK_ERASE 000000"};
    if (twoBlocks && part.BlockEraseUnit)
        erases.push_back("BLOCK_ERASE 010000");
    for (int sector = 0; twoBlocks && !part.BlockEraseUnit && sector < 16; ++sector)
        erases.push_back("SECTOR_ERASE 01" + Hex(sector, "%X") + "000");
    return erases;
}

std::vector<std::string> ErasesAndPrograms(const std::vector<std::string>& spiLog)
{
    std::vector<std::string> found;
    for (const std::string& line : FlashWrites(spiLog))
        if (line.find("ERASE") != std::string::npos || line.find("PROGRAM") != std::string::npos)
            found.push_back(line);
    return found;
}

// /update over a chip that holds the image but for one sector of block 0 and
// all of block 1: the chip then holds the image, and only the erases the part
// has went out, each where something differed.
TEST_P(EveryPart, UpdateWritesWhatDiffersWithThePartsOwnErases)
{
    SCOPED_TRACE(Chip().Part->Name);
    const int size = ImageSize();
    std::vector<uint8_t> image = MakeImage(size, "EVERY part");
    std::string name = WriteTempFile("every-update.bin", image);
    auto rig = ChipHoldingTheImage(image);
    rig->Flash()[0x3456] ^= 0x5A;
    for (int at = 0x10000; at < std::min(size, 0x20000); ++at)
        rig->Flash()[at] = static_cast<uint8_t>(image[at] ^ 0x5A);
    int status = rig->Run({"/update", name});
    if (!Updatable()) {
        // Refused before the first erase where the part table says the part
        // can't be written, and handed back; otherwise the verify fails.
        if (status == EXIT_WRITE_PROTECTED) {
            EXPECT_EQ(FlashWrites(rig->SpiLog()), std::vector<std::string>{});
            EXPECT_EQ(rig->Ec().Mode(), sim::EcMode::ClosedExit);
            return;
        }
        EXPECT_EQ(status, EXIT_FLASH_FAILED);
        EXPECT_EQ(rig->Ec().Mode(), sim::EcMode::Follow);
        return;
    }
    ASSERT_EQ(status, EXIT_OK) << rig->Output();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), rig->Flash().begin()));
    EXPECT_EQ(rig->Ec().Mode(), sim::EcMode::ClosedExit);
    EXPECT_NE(rig->Output().find(ChecksumLine(ByteSum(image, size) + 0x80)), std::string::npos) << rig->Output();
    std::vector<std::string> erases;
    for (const std::string& line : FlashWrites(rig->SpiLog()))
        if (line.find("_ERASE ") != std::string::npos)
            erases.push_back(line.substr(0, line.find(' ') + 7));
    EXPECT_EQ(erases, ErasesForOneSectorAndOneBlock(*Chip().Part, size > 0x10000));
}

// /keep over a differing sector next to one that must be erased, without
// /backup: the kept sector holds what it held. A part with a 4 KiB erase
// writes around it, and the checksum line and the record give the chip's sum
// over the image's range; a part with only the 64 KiB erase may refuse
// instead, with nothing erased or programmed.
TEST_P(EveryPart, UpdateKeepsARangeOrRefusesBeforeWriting)
{
    SCOPED_TRACE(Chip().Part->Name);
    if (!Updatable())
        return;
    const int size = ImageSize();
    std::vector<uint8_t> image = MakeImage(size, "EVERY part");
    std::string name = WriteTempFile("every-keep.bin", image);
    auto rig = ChipHoldingTheImage(image);
    rig->Flash()[0x3456] ^= 0x5A;
    for (int at = 0x5000; at < 0x6000; ++at)
        rig->Flash()[at] = static_cast<uint8_t>(image[at] ^ 0x5A);  // differs from its first byte on
    const std::vector<uint8_t> before = rig->Flash();
    remove("every-keep.log");
    int status = rig->Run({"/log", "every-keep.log", "/keep", "5000-5FFF", "/update", name});
    const std::vector<uint8_t>& after = rig->Flash();
    EXPECT_TRUE(std::equal(before.begin() + 0x5000, before.begin() + 0x6000, after.begin() + 0x5000));
    if (status != EXIT_OK) {
        EXPECT_EQ(Chip().Part->SectorEraseUnit, 0u) << rig->Output();
        EXPECT_EQ(status, EXIT_BAD_IMAGE);
        EXPECT_NE(rig->Output().find("KEEP ERROR!!"), std::string::npos) << rig->Output();
        EXPECT_EQ(ErasesAndPrograms(rig->SpiLog()), std::vector<std::string>{});
        EXPECT_TRUE(after == before);
        return;
    }
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 0x5000, after.begin()));
    EXPECT_TRUE(std::equal(image.begin() + 0x6000, image.end(), after.begin() + 0x6000));
    uint32_t sum = ByteSum(after, size) + 0x80;
    EXPECT_NE(rig->Output().find(ChecksumLine(sum)), std::string::npos) << rig->Output();
    std::vector<uint8_t> log = ReadFileBytes("every-keep.log");
    EXPECT_NE(std::string(log.begin(), log.end()).find(" checksum=" + Hex(sum, "%04X") + " "), std::string::npos);
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
