// /update as whole runs on a page part and an AAI part: what it erases and
// programs (the SPI log), what the chip then holds, the status; /keep and
// /backup, and the command lines refused before the EC is touched.
#include <gtest/gtest.h>

#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Applications/Main/Main.h"
#include "Applications/Main/RunState.h"
#include "Harness.h"
#include "ec/EcChannel.h"
#include "flash/FlashPrimitives.h"
#include "flash/SpiOpcodes.h"
#include "platform/Faults.h"

namespace zar::test {
namespace {

constexpr size_t IMAGE_SIZE = 0x80000;

// The erases and the addresses programs start at, from the SPI log; an AAI
// command without an address continues the one before.
struct Writes {
    std::vector<std::string> Erases;  // "SECTOR_ERASE 023000"
    std::vector<uint32_t> ProgramStarts;
};

Writes WritesOf(Rig& rig)
{
    Writes writes;
    for (const std::string& line : FlashWrites(rig.SpiLog())) {
        size_t space = line.find(' ');
        std::string word = line.substr(space + 1, 6);
        bool addressed = word.size() == 6 && word.find_first_not_of("0123456789ABCDEF") == std::string::npos;
        if (line.find("ERASE") != std::string::npos)
            writes.Erases.push_back(line.substr(0, space + 7));
        else if (line.find("PROGRAM") != std::string::npos && addressed)
            writes.ProgramStarts.push_back(static_cast<uint32_t>(std::stoul(word, nullptr, 16)));
    }
    return writes;
}

class UpdateRuns : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override { image_ = MakeImage(IMAGE_SIZE); }
    void TearDown() override { SetWriteFailAfter(-1); }

    // /update on a chip that holds `before` over the image's range.
    int Run(Rig& rig, const std::vector<uint8_t>& before, std::vector<std::string> words = {})
    {
        std::string name = WriteTempFile("update-run.bin", image_);
        std::copy(before.begin(), before.end(), rig.Flash().begin());
        rig.DecodeSpi();
        words.insert(words.end(), {"/update", name, "p"});
        return rig.Run(words);
    }
    bool Holds(Rig& rig) { return std::equal(image_.begin(), image_.end(), rig.Flash().begin()); }

    std::vector<uint8_t> image_;
};

TEST_P(UpdateRuns, OneChangedByteIsOneSectorErasedAndWritten)
{
    Rig rig(sim::FindChip(GetParam()));
    std::vector<uint8_t> before = image_;
    before[0x23456] ^= 0x81;
    ASSERT_EQ(Run(rig, before), EXIT_OK) << rig.Output();
    EXPECT_TRUE(Holds(rig));
    EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::ClosedExit);
    EXPECT_NE(rig.Output().find("Plan             : 1 of 128 sectors to write, 127 equal, 0 kept; 4096 bytes"),
              std::string::npos)
        << rig.Output();
    Writes writes = WritesOf(rig);
    EXPECT_EQ(writes.Erases, std::vector<std::string>{"SECTOR_ERASE 023000"});
    ASSERT_FALSE(writes.ProgramStarts.empty());
    for (uint32_t start : writes.ProgramStarts)
        EXPECT_EQ(start & ~0xFFFu, 0x23000u);
    EXPECT_EQ(rig.Chip().Stats().BytesProgrammed, 0x1000u);
    EXPECT_EQ(RunState.Checksum, ByteSum(image_, IMAGE_SIZE));
}

// A chip that holds something else entirely, and an image whose last 40 % is
// 0xFF: 64 KiB erases only, and nothing programmed into the tail.
TEST_P(UpdateRuns, EverySectorChangedTakesBlockErasesAndLeavesTheTailUnprogrammed)
{
    constexpr size_t TAIL = IMAGE_SIZE * 6 / 10;  // 0x4CCCC
    std::fill(image_.begin() + TAIL, image_.end(), 0xFF);
    Rig rig(sim::FindChip(GetParam()));
    std::vector<uint8_t> before(IMAGE_SIZE);
    for (size_t i = 0; i < before.size(); ++i)
        before[i] = static_cast<uint8_t>(~image_[i] | 0x01);
    ASSERT_EQ(Run(rig, before), EXIT_OK) << rig.Output();
    EXPECT_TRUE(Holds(rig));
    Writes writes = WritesOf(rig);
    ASSERT_EQ(writes.Erases.size(), 8u);
    for (size_t block = 0; block < 8; ++block)
        EXPECT_EQ(writes.Erases[block], "BLOCK_ERASE 0" + std::to_string(block) + "0000");
    EXPECT_LT(writes.ProgramStarts.back(), TAIL);
    EXPECT_EQ(rig.Chip().Stats().BytesProgrammed, 0x4CD00u);  // up to the end of the tail's first piece
    EXPECT_EQ(FlashBusSent().BlockErases, 8u);
    EXPECT_EQ(RunState.Update.SectorsWritten, 128);
}

// A sector that does not take its bytes (bits stuck at 1 where the image
// clears them): the verify finds them, the run ends with status 3, no
// closing command, and the command to type again. The backup was written,
// so that command leaves /backup out.
TEST_P(UpdateRuns, ASectorThatDidNotTakeItsBytesFailsItsVerify)
{
    sim::ChipConfig stuck;
    stuck.Faults.HasStuckBits = true;
    stuck.Faults.StuckAddress = 0x31000;
    stuck.Faults.StuckMask = static_cast<uint8_t>(~image_[0x31000]);
    ASSERT_NE(stuck.Faults.StuckMask, 0);
    Rig rig(sim::FindChip(GetParam()), {}, stuck);
    std::vector<uint8_t> before = image_;
    before[0x31000] = 0x00;
    remove("locked-backup.bin");
    EXPECT_EQ(Run(rig, before, {"/backup", "locked-backup.bin"}), EXIT_FLASH_FAILED);
    EXPECT_NE(rig.Output().find("VERIFY FAILED!! The byte at 31000 is not the image's"), std::string::npos)
        << rig.Output();
    EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::Follow);
    EXPECT_NE(rig.Output().find("Run again with p, as an EC in follow mode can't answer the module check:\r\n"
                                "  zar /update update-run.bin p\r\n"),
              std::string::npos)
        << rig.Output();
    EXPECT_EQ(ReadFileBytes("locked-backup.bin"), before);
}

// A disk that fills while the backup is written (nothing fits, a sector's
// worth, all but the last byte): the run ends with status 2 before anything
// is erased or programmed, the chip as it was, and no file that could pass
// for a backup.
TEST_P(UpdateRuns, ABackupThatCantBeWrittenStopsTheRunBeforeAnyErase)
{
    for (int32_t room : {0, 0x1000, static_cast<int32_t>(IMAGE_SIZE) - 1}) {
        SCOPED_TRACE(room);
        Rig rig(sim::FindChip(GetParam()));
        std::vector<uint8_t> before = image_;
        before[0x23456] ^= 0x81;
        std::copy(before.begin(), before.end(), rig.Flash().begin());
        const std::vector<uint8_t> chip = rig.Flash();
        remove("full-backup.bin");
        SetWriteFailAfter(room);
        EXPECT_EQ(Run(rig, before, {"/backup", "full-backup.bin"}), EXIT_BAD_IMAGE);
        SetWriteFailAfter(-1);
        EXPECT_NE(rig.Output().find("FILE WRITE ERROR!! full-backup.bin could not be written whole"),
                  std::string::npos)
            << rig.Output();
        Writes writes = WritesOf(rig);
        EXPECT_TRUE(writes.Erases.empty() && writes.ProgramStarts.empty());
        EXPECT_TRUE(rig.Flash() == chip);
        EXPECT_NE(access("full-backup.bin", F_OK), 0);
    }
}

// An image that is mostly 0xFF, onto a blank chip: each piece with a byte
// to program is programmed, also where the piece before it ends with one and
// its own only byte comes early.
TEST_P(UpdateRuns, SparseImageOntoABlankChip)
{
    std::fill(image_.begin(), image_.end(), 0xFF);
    for (size_t at : {0x50F0, 0x5105, 0x52FF, 0x5300, 0x6000, 0x7FFFF})
        image_[at] = static_cast<uint8_t>(at);
    Rig rig(sim::FindChip(GetParam()));
    ASSERT_EQ(Run(rig, std::vector<uint8_t>(IMAGE_SIZE, 0xFF)), EXIT_OK) << rig.Output();
    EXPECT_TRUE(Holds(rig));
    EXPECT_TRUE(WritesOf(rig).Erases.empty());
}

INSTANTIATE_TEST_SUITE_P(PageAndAai, UpdateRuns, ::testing::Values("W25X40", "SST25VF080B"));

// The chip below the kept range takes the image; the kept range keeps what it
// held and sees no erase; the backup holds the old content, and is never
// replaced.
TEST(Update, KeepAndBackup)
{
    std::vector<uint8_t> image = MakeImage(IMAGE_SIZE);
    std::string name = WriteTempFile("keep-new.bin", image);
    remove("keep-backup.bin");
    remove("keep.log");
    Rig rig;
    std::vector<uint8_t> old(rig.Flash().begin(), rig.Flash().begin() + IMAGE_SIZE);
    rig.DecodeSpi();
    ASSERT_EQ(rig.Run({"/log", "keep.log", "/keep", "70000-7FFFF", "/backup", "keep-backup.bin", "/update", name, "p"}),
              EXIT_OK)
        << rig.Output();
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 0x70000, rig.Flash().begin()));
    EXPECT_TRUE(std::equal(old.begin() + 0x70000, old.end(), rig.Flash().begin() + 0x70000));
    EXPECT_EQ(ReadFileBytes("keep-backup.bin"), old);
    for (const std::string& erase : WritesOf(rig).Erases)
        EXPECT_LT(std::stoul(erase.substr(erase.find(' ') + 1), nullptr, 16), 0x70000u) << erase;
    std::vector<uint8_t> log = ReadFileBytes("keep.log");
    EXPECT_NE(std::string(log.begin(), log.end()).find(" sectors-written=112 sectors-equal=0 sectors-kept=16 "
                                                       "erase-64k=7 erase-4k=0 programmed=458752 duration="),
              std::string::npos);

    // Again: the backup file is there, so nothing is touched.
    Rig again;
    std::vector<uint8_t> before = again.Flash();
    EXPECT_EQ(again.Run({"/backup", "keep-backup.bin", "/update", name, "p"}), EXIT_BAD_IMAGE);
    EXPECT_NE(again.Output().find("FILE EXISTS!! keep-backup.bin is kept"), std::string::npos);
    EXPECT_FALSE(again.Trace().TouchedPorts());
    EXPECT_EQ(ReadFileBytes("keep-backup.bin"), old);

    // A range past the chip's end is known only once the chip is: refused
    // before anything is read or erased; with p nothing shows the chip whole,
    // so the EC stays in follow mode (HandBackTest).
    Rig small;
    small.DecodeSpi();
    EXPECT_EQ(small.Run({"/keep", "70000-8FFFF", "/update", name, "p"}), EXIT_BAD_IMAGE);
    EXPECT_NE(small.Output().find("KEEP ERROR!! /keep 70000-8FFFF reaches past the chip's end"), std::string::npos);
    EXPECT_EQ(FlashWrites(small.SpiLog()), std::vector<std::string>{});
    EXPECT_EQ(small.Ec().Mode(), sim::EcMode::Follow);
}

// Sixteen /keep ranges are taken and kept; a seventeenth is refused before
// the EC is touched.
TEST(Update, SixteenKeptRangesAndNoMore)
{
    std::vector<uint8_t> image = MakeImage(0x20000);
    std::string name = WriteTempFile("ranges.bin", image);
    std::vector<std::string> words;
    for (uint32_t sector = 0; sector < 0x22000; sector += 0x2000)
        words.insert(words.end(), {"/keep", Hex(sector) + "-" + Hex(sector + 0xFFF)});
    std::vector<std::string> sixteen(words.begin(), words.end() - 2);
    for (auto* list : {&words, &sixteen})
        list->insert(list->end(), {"/update", name, "p"});

    Rig rig;
    rig.StopTracing();
    const std::vector<uint8_t> before = rig.Flash();
    ASSERT_EQ(rig.Run(sixteen), EXIT_OK) << rig.Output();
    for (uint32_t at = 0; at < 0x20000; at += 0x1000) {
        const std::vector<uint8_t>& held = at % 0x2000 ? image : before;
        EXPECT_TRUE(std::equal(held.begin() + at, held.begin() + at + 0x1000, rig.Flash().begin() + at)) << at;
    }

    Rig refused;
    EXPECT_EQ(refused.Run(words), EXIT_BAD_IMAGE);
    EXPECT_NE(refused.Output().find("KEEP ERROR!! At most 16 /keep ranges."), std::string::npos) << refused.Output();
    EXPECT_FALSE(refused.Trace().TouchedPorts());
}

TEST(Update, WordsRefusedBeforeTheEc)
{
    std::string name = WriteTempFile("refused.bin", MakeImage(0x1000));
    WriteTempFile("there.bin", {1, 2, 3});
    remove("gone.bin");
    struct Case {
        std::vector<std::string> Words;
        const char* Says;
    } cases[] = {
        {{"/keep", "/update", name}, "/keep needs a range START-END"},
        {{"/keep", "70000", "/update", name}, "/keep needs a range START-END"},
        {{"/keep", "7000g-7FFFF", "/update", name}, "/keep needs a range START-END"},
        {{"/keep", "70001-7FFFF", "/update", name}, "START must be a multiple of 1000"},
        {{"/keep", "0x70000-0x7FFFE", "/update", name}, "START must be a multiple of 1000"},
        {{"/keep", "7FFFF-70000", "/update", name}, "is empty or reversed"},
        {{"/keep", "1000-FFF", "/update", name}, "is empty or reversed"},
        {{"/keep", "0-1FFFFFF", "/update", name}, "reaches past FFFFFF"},
        {{"/keep", "0-FFFF", "/keep", "F000-1FFFF", "/update", name}, "overlaps /keep 0-FFFF"},
        {{"/backup", "/update", name}, "/backup needs a file name"},
        {{"/backup", "/tmp/b.bin", "/update", name}, "(/tmp/b.bin begins with \"/\", which marks a switch"},
        {{"/backup", "a.bin", "/backup", "b.bin", "/update", name}, "/backup is given twice"},
        {{"/backup", "there.bin", "/update", name}, "FILE EXISTS!! there.bin is kept"},
        {{"/backup", "nodir/b.bin", "/update", name}, "FILE WRITE ERROR!! nodir/b.bin can't be created"},
        // Claimed, then the image is refused: the claimed file goes again.
        {{"/backup", "gone.bin", "/update", "nothere.bin"}, "FILE NAME ERROR!!"},
        {{"/keep", "0-FFF", name}, "Usage: zar [/log FILE] [/backup FILE] [/keep START-END]... /update"},
        {{"/backup", "a.bin", "/verify", name}, "Usage: zar [/log FILE] [/backup FILE]"},
        {{"/keep", "0-FFF", "/read", "a.bin"}, "Usage: zar [/log FILE] [/backup FILE]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Words[0] + " " + c.Words[1]);
        Rig rig;
        EXPECT_EQ(rig.Run(c.Words), EXIT_BAD_IMAGE);
        EXPECT_FALSE(rig.Trace().TouchedPorts());
        EXPECT_NE(rig.Output().find(c.Says), std::string::npos) << rig.Output();
    }
    EXPECT_EQ(ReadFileBytes("there.bin"), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_TRUE(ReadFileBytes("a.bin").empty());
    EXPECT_EQ(fopen("gone.bin", "rb"), nullptr) << "the claimed backup was left behind";
}

std::string ChecksumLine(const std::vector<uint8_t>& image)
{
    char line[64];
    snprintf(line, sizeof line, "Current F/W Checksum : %04X\r\n", ByteSum(image, image.size()));
    return line;
}

// The image's last erase unit past its end: read before the erase, written
// back as it was and verified. The plan says how many bytes it carries, and
// /backup holds every byte the run may erase: up to the end of that unit.
TEST(Update, NothingPastTheImagesEndChanges)
{
    struct Case {
        const char* Chip;
        size_t Size;
        size_t UnitEnd;  // 4 KiB sectors, or only 64 KiB blocks
    } cases[] = {
        {"W25X40", 0x15A5B, 0x16000},
        {"SST25VF080B", 0x15A5B, 0x16000},
        {"M25P40", 0x12000, 0x20000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Chip);
        std::vector<uint8_t> image = MakeImage(c.Size);
        std::string name = WriteTempFile("tail.bin", image);
        std::string backup = std::string("tail-") + c.Chip + ".bin";
        remove(backup.c_str());
        Rig rig(sim::FindChip(c.Chip));
        rig.StopTracing();
        std::vector<uint8_t> before = rig.Flash();
        ASSERT_EQ(rig.Run({"/backup", backup, "/update", name, "p"}), EXIT_OK) << rig.Output();
        EXPECT_TRUE(std::equal(image.begin(), image.end(), rig.Flash().begin()));
        EXPECT_TRUE(std::equal(before.begin() + static_cast<long>(c.Size), before.end(),
                               rig.Flash().begin() + static_cast<long>(c.Size)));
        EXPECT_NE(rig.Output().find("Past the image   : " + std::to_string(c.UnitEnd - c.Size) + " bytes"),
                  std::string::npos)
            << rig.Output();
        EXPECT_EQ(ReadFileBytes(backup), std::vector<uint8_t>(before.begin(), before.begin() + static_cast<long>(c.UnitEnd)));
        EXPECT_TRUE(rig.Output().ends_with(ChecksumLine(image))) << rig.Output();
    }
}

// One read that comes back different (a marginal cell, a glitch on the
// bus): the backup's second read disagrees, so nothing is erased and no file
// is written; the command given reads again and saves the chip as it is.
TEST(Update, ABackupIsWrittenOnlyWhenTwoReadsAgree)
{
    std::vector<uint8_t> image = MakeImage(0x30000);
    std::string name = WriteTempFile("flip.bin", image);
    remove("flip-backup.bin");
    sim::ChipConfig flip;
    flip.Faults.FlipsRead = true;
    flip.Faults.FlipAddress = 0x24D6;
    Rig rig(nullptr, {}, flip);
    rig.DecodeSpi();
    std::vector<uint8_t> before(rig.Flash().begin(), rig.Flash().begin() + 0x30000);
    EXPECT_EQ(rig.Run({"/backup", "flip-backup.bin", "/update", name, "p"}), EXIT_FLASH_FAILED);
    EXPECT_NE(rig.Output().find("READ MISMATCH!! The two reads disagree on 1 byte(s), the first at 24D6"),
              std::string::npos)
        << rig.Output();
    EXPECT_EQ(fopen("flip-backup.bin", "rb"), nullptr);
    EXPECT_TRUE(FlashWrites(rig.SpiLog()).empty());
    EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::Follow);
    std::vector<std::string> advised = AdvisedCommand(rig.Output());
    EXPECT_EQ(advised, (std::vector<std::string>{"/backup", "flip-backup.bin", "/update", name, "p"}));

    rig.Ec().NextRun();
    rig.Chip().NextRun();
    EXPECT_EQ(rig.Run(advised), EXIT_OK) << rig.Output();
    EXPECT_EQ(ReadFileBytes("flip-backup.bin"), before);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), rig.Flash().begin()));
}

// A record's "NAME=VALUE" as a number; -1 when it is not there.
long RecordField(const std::string& log, const std::string& name)
{
    size_t at = log.rfind(" " + name + "=");
    return at == std::string::npos ? -1 : std::stol(log.substr(at + name.size() + 2));
}

// What the SPI log shows going out: erases with their whole address, and the
// data bytes of programs (an AAI command after the first carries none).
struct BusCounts {
    long BlockErases = 0, SectorErases = 0, Programmed = 0;
};
BusCounts CountsOf(const std::vector<std::string>& spiLog)
{
    BusCounts counts;
    for (const std::string& line : FlashWrites(spiLog)) {
        size_t space = line.find(' ');
        std::string name = line.substr(0, space);
        std::string word = line.substr(space + 1, 6);
        bool addressed = word.size() == 6 && word.find_first_not_of("0123456789ABCDEF") == std::string::npos;
        size_t plus = line.find(" +");
        if (name == "BLOCK_ERASE" && addressed)
            ++counts.BlockErases;
        else if (name == "SECTOR_ERASE" && addressed)
            ++counts.SectorErases;
        else if (plus != std::string::npos && (addressed || name.starts_with("AAI")))
            counts.Programmed += std::stol(line.substr(plus + 2));
    }
    return counts;
}

void ExpectRecordCounts(const std::string& logName, Rig& rig)
{
    std::vector<uint8_t> bytes = ReadFileBytes(logName);
    std::string log(bytes.begin(), bytes.end());
    BusCounts bus = CountsOf(rig.SpiLog());
    EXPECT_EQ(RecordField(log, "erase-64k"), bus.BlockErases) << log;
    EXPECT_EQ(RecordField(log, "erase-4k"), bus.SectorErases) << log;
    EXPECT_EQ(RecordField(log, "programmed"), bus.Programmed) << log;
}

// The record's erases and bytes programmed are what went out on the bus, as
// the SPI log shows them: a run cut short around its second block erase, one
// refused after its plan, and an AAI part's last word with its pad byte.
TEST(Update, TheRecordCountsWhatWentOutOnTheBus)
{
    std::vector<uint8_t> image = MakeImage(0x30000);
    std::string name = WriteTempFile("bus.bin", image);
    uint64_t opcodeAt = 0;  // the EC write that carries the second BLOCK_ERASE
    {
        Rig good;
        ASSERT_EQ(good.Run({"/update", name, "p"}), EXIT_OK);
        uint64_t writes = 0;
        int erases = 0;
        uint8_t prefix = 0;
        for (const PortAccess& a : good.Trace().accesses) {
            if (!a.Write)
                continue;
            ++writes;
            if (prefix == FOLLOW_OPCODE && a.Value == BLOCK_ERASE && ++erases == 2)
                opcodeAt = writes;
            bool command = a.Port == EC_COMMAND_PORT;
            prefix = command && prefix == 0 && (a.Value == FOLLOW_OPCODE || a.Value == FOLLOW_WRITE) ? a.Value : 0;
        }
        ASSERT_GT(opcodeAt, 0u);
    }
    SetWaitLimits({2000, 2000});
    for (uint64_t cut = opcodeAt - 2; cut <= opcodeAt + 8; ++cut) {
        SCOPED_TRACE(cut - opcodeAt);
        remove("bus.log");
        sim::EcConfig ec;
        ec.Faults.IbfStuckAfterWrites = cut;
        Rig rig(nullptr, ec);
        rig.DecodeSpi();
        EXPECT_EQ(rig.Run({"/log", "bus.log", "/update", name, "p"}), EXIT_NO_ANSWER);
        ExpectRecordCounts("bus.log", rig);
    }
    SetWaitLimits({0, 0});

    // Refused after the plan: nothing went out.
    remove("bus.log");
    Rig refused(sim::FindChip("M25P40"));
    refused.DecodeSpi();
    EXPECT_EQ(refused.Run({"/log", "bus.log", "/keep", "10000-10FFF", "/update", name, "p"}), EXIT_BAD_IMAGE);
    ExpectRecordCounts("bus.log", refused);
    std::vector<uint8_t> record = ReadFileBytes("bus.log");
    EXPECT_EQ(RecordField(std::string(record.begin(), record.end()), "erase-64k"), 0);

    // An odd image end on a part programmed a word at a time.
    remove("bus.log");
    std::string odd = WriteTempFile("bus-odd.bin", MakeImage(0x15A5B));
    Rig aai(sim::FindChip("SST25VF080B"));
    aai.DecodeSpi();
    EXPECT_EQ(aai.Run({"/log", "bus.log", "/update", odd, "p"}), EXIT_OK) << aai.Output();
    ExpectRecordCounts("bus.log", aai);
}

// Every sector that differs is kept: nothing to write, and the run does not
// claim that every block equals the image.
TEST(Update, NothingToWriteButKeptSectors)
{
    std::vector<uint8_t> image = MakeImage(0x20000);
    std::string name = WriteTempFile("kept-only.bin", image);
    Rig rig;
    rig.StopTracing();
    std::copy(image.begin(), image.end(), rig.Flash().begin());
    rig.Flash()[0x11234] ^= 0x5A;
    EXPECT_EQ(rig.Run({"/keep", "11000-11FFF", "/update", name, "p"}), EXIT_OK) << rig.Output();
    EXPECT_NE(rig.Output().find("The EC is already up to date outside the kept ranges"), std::string::npos)
        << rig.Output();
    EXPECT_EQ(rig.Output().find("every block equals the image"), std::string::npos);
    EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::ClosedExit);
    EXPECT_EQ(rig.Chip().Stats().Erases, 0u);
}

}  // namespace
}  // namespace zar::test
