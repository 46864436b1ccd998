// The verbs as whole runs: what each prints, its status, how it leaves the EC,
// and that only /update ever sends an erase, program or status write.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "Applications/Main/Main.h"
#include "Applications/Main/RunState.h"
#include "Harness.h"
#include "ec/EcChannel.h"
#include "platform/Crc32.h"
#include "platform/Faults.h"

namespace zar::test {
namespace {

// Runs a verb that must leave the chip as it was and send no write opcode.
int RunReadOnly(Rig& rig, const std::vector<std::string>& args)
{
    rig.DecodeSpi();
    std::vector<uint8_t> before = rig.Flash();
    int status = rig.Run(args);
    EXPECT_EQ(rig.Flash(), before);
    EXPECT_EQ(FlashWrites(rig.SpiLog()), std::vector<std::string>{});
    EXPECT_EQ(rig.Ec().Stats().AfterClose, 0u);
    return status;
}

TEST(Probe, ShowsTheModuleTheChipAndItsProtection)
{
    Rig rig;
    rig.SetEcModule("KB930 A");
    ASSERT_EQ(RunReadOnly(rig, {"/probe"}), EXIT_OK) << rig.Output();
    EXPECT_NE(rig.Output().find("\r\nModule name      : KB930 A\r\n"
                                "Follow mode      : entered, acknowledged with 33\r\n"
                                "RDID             : EF 30 13 00\r\n"
                                "RES              : 12 12 12 12\r\n"
                                "Maker            : Winbond (EF)\r\n"
                                "Part             : W25X40\r\n"
                                "Size             : 512 KiB (524288 bytes)\r\n"
                                "Page size        : 256 bytes\r\n"
                                "Status register  : 00 (WIP 0, WEL 0, BP0-BP2 000, bit 5 0, bit 6 0, SRWD 0)\r\n"
                                "Protection       : none: no block is write-protected\r\n"),
              std::string::npos)
        << rig.Output();
    EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::ClosedExit);

    // An SST part known only by RES, powered up protected; "/j" closes with 0xFC.
    Rig sst(sim::FindChip("SST25LF040A"));
    ASSERT_EQ(RunReadOnly(sst, {"/probe", "/j"}), EXIT_OK) << sst.Output();
    EXPECT_NE(sst.Output().find("RDID             : 00 00 00 00\r\nRES              : BF 44 BF 44\r\n"
                                "Maker            : SST (BF)\r\n"),
              std::string::npos)
        << sst.Output();
    EXPECT_NE(sst.Output().find("Protection       : blocks are write-protected"), std::string::npos);
    EXPECT_EQ(sst.Ec().Mode(), sim::EcMode::ClosedExitAlt);
}

TEST(Probe, NoChipIsStatusFourAndTheEcIsHandedBack)
{
    Rig rig;
    rig.DetachChip();
    EXPECT_EQ(RunReadOnly(rig, {"/probe"}), EXIT_NO_ANSWER);
    EXPECT_NE(rig.Output().find("RDID             : FF FF FF FF\r\n"), std::string::npos);
    EXPECT_NE(rig.Output().find("NO FLASH CHIP!!"), std::string::npos);
    EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::ClosedExit);
}

// An EC that answers entry with something else may have been in follow mode
// already, from a run cut short: closing it would start it from a flash that
// may be half written, so the verbs that only look leave it there.
TEST(Verbs, AnUnacknowledgedEntryIsLeftInFollowMode)
{
    sim::EcConfig ec;
    ec.FollowAck = 0x00;
    std::vector<uint8_t> image = MakeImage(0x18000);
    std::string name = WriteTempFile("unacked.bin", image);
    for (std::vector<std::string> args : {std::vector<std::string>{"/probe"}, {"/verify", name, "p", "/j"},
                                          {"/read", "unacked-backup.bin", "/j"}}) {
        Rig rig(nullptr, ec);
        rig.StopTracing();
        std::vector<uint8_t> before = rig.Flash();
        int status = rig.Run(args);
        EXPECT_NE(status, EXIT_NO_ANSWER) << args[0];
        EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::Follow) << args[0];
        EXPECT_EQ(rig.Flash(), before);
        EXPECT_NE(rig.Output().find("did not acknowledge follow-mode entry"), std::string::npos) << rig.Output();
        EXPECT_NE(rig.Output().find("No closing command sent"), std::string::npos) << rig.Output();
    }
}

// An EC that takes follow-mode entry but never answers: the wait gives up,
// and the console says so rather than blaming the acknowledgement.
TEST(Verbs, ASilentEcEndsThemWithNoAnswer)
{
    std::string name = WriteTempFile("silent.bin", MakeImage(0x8000));
    SetWaitLimits({2000, 2000});
    struct Case {
        std::vector<std::string> args;
        uint64_t answers;  // the module name's 32 reads are answered
    };
    for (const Case& c : {Case{{"/probe"}, 32}, Case{{"/verify", name, "p"}, 0}, Case{{"/read", "silent-copy.bin"}, 0}}) {
        SCOPED_TRACE(c.args[0]);
        sim::EcConfig ec;
        ec.Faults.ObfStuckAfterAnswers = c.answers;
        Rig rig(nullptr, ec);
        remove("silent-copy.bin");
        EXPECT_EQ(RunReadOnly(rig, c.args), EXIT_NO_ANSWER);
        EXPECT_NE(rig.Output().find("NO ANSWER!! The EC output buffer wait ran out"), std::string::npos)
            << rig.Output();
        EXPECT_EQ(rig.Output().find("did not acknowledge"), std::string::npos) << rig.Output();
        EXPECT_TRUE(ReadFileBytes("silent-copy.bin").empty());
    }
    SetWaitLimits({0, 0});
}

TEST(Verbs, CommandLinesThatMakeNoSenseTouchNothing)
{
    WriteTempFile("there.bin", {1, 2, 3});
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {"/probe", "x"}, {"/read"}, {"/read", "/j"}, {"/read", "a.bin", "0"}, {"/read", "a.bin", "0x1000001"},
             {"/read", "a.bin", "12k"}, {"/read", "there.bin"}, {"/verify"}, {"/verify", "nothere.bin"},
             {"/verify", "a", "p", "x"}, {"/update"}, {"/update", "/j"}}) {
        SCOPED_TRACE(args.size() > 1 ? args[0] + " " + args[1] : args[0]);
        Rig rig;
        EXPECT_EQ(rig.Run(args), EXIT_BAD_IMAGE);
        EXPECT_FALSE(rig.Trace().TouchedPorts()) << rig.Output();
        EXPECT_NE(rig.Output().find("!!"), std::string::npos) << rig.Output();
    }
    EXPECT_EQ(ReadFileBytes("there.bin"), (std::vector<uint8_t>{1, 2, 3}));
    Rig rig;
    rig.Run({"/read", "there.bin"});
    EXPECT_NE(rig.Output().find("FILE EXISTS!! there.bin is kept"), std::string::npos);
}

// A word that must name a file is never a switch or a verb: missing, or
// beginning with "/", it ends the run with status 2 before the EC is touched,
// and nothing of that name is created (zar-sim would create "/verify" at the
// root of the file system).
TEST(Verbs, AFileNameThatIsMissingOrASwitchIsRefused)
{
    std::string image = WriteTempFile("refused.bin", MakeImage(0x18000));
    struct Case {
        std::vector<std::string> args;
        const char* message;
        std::vector<std::string> notCreated;
    } cases[] = {
        {{"/log", "/verify", image, "p"}, "LOG FILE ERROR!! /log needs a file name.", {"/verify", "verify"}},
        {{"/log", "/probe"}, "LOG FILE ERROR!! /log needs a file name.", {"/probe", "probe"}},
        {{"/log"}, "LOG FILE ERROR!! /log needs a file name.", {}},
        {{"/log", "/read", "r.bin"}, "LOG FILE ERROR!!", {"/read", "r.bin"}},
        {{"/read", "/verify", image}, "COMMAND LINE ERROR!! /verify is out of place", {"/verify"}},
        {{"/read", "/log", "r.log"}, "COMMAND LINE ERROR!! /log is out of place", {"/log", "r.log"}},
        {{"/read", ""}, "COMMAND LINE ERROR!! Usage: zar /read FILE", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.size() > 1 ? c.args[0] + " " + c.args[1] : c.args[0]);
        Rig rig;
        EXPECT_EQ(rig.Run(c.args), EXIT_BAD_IMAGE);
        EXPECT_FALSE(rig.Trace().TouchedPorts());
        EXPECT_NE(rig.Output().find(c.message), std::string::npos) << rig.Output();
        EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::Normal);
        for (const std::string& name : c.notCreated)
            EXPECT_NE(access(name.c_str(), F_OK), 0) << name;
    }
}

// "NO ANSWER!!" says where the run stopped: the EC stops answering (or
// taking bytes) a set number of exchanges before the end of a good run.
TEST(Verbs, NoAnswerNamesTheStageItStoppedIn)
{
    std::string image = WriteTempFile("stage.bin", MakeImage(0x18000));
    struct Case {
        std::vector<std::string> args;
        bool ibf;       // the EC stops taking bytes, else stops answering
        int64_t after;  // after this many exchanges; negative: counted back from the end of a good run
        const char* where;
    } cases[] = {
        {{"/read", "stage.rd", "0x1000"}, false, -0x1000 - 100, "in read pass 1 at FBD."},
        {{"/read", "stage.rd", "0x1000"}, false, -100, "in read pass 2 at F9D."},
        {{"/read", "stage.rd", "0x1000"}, false, 3, "at follow-mode entry or identification."},
        {{"/probe"}, true, -1, "at the closing command."},
        {{"/probe"}, false, 10, "at the module check."},
        {{"/verify", image}, false, 10, "at the module check."},
        {{"/verify", image, "p"}, false, 0, "before the first block."},
    };
    SetWaitLimits({2000, 2000});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        Rig good;
        good.StopTracing();
        unlink("stage.rd");
        EXPECT_NE(good.Run(c.args), EXIT_NO_ANSWER) << good.Output();
        unlink("stage.rd");
        sim::EcConfig ec;
        uint64_t end = c.ibf ? good.Ec().Stats().Writes : good.Ec().Stats().Answers;
        (c.ibf ? ec.Faults.IbfStuckAfterWrites : ec.Faults.ObfStuckAfterAnswers) =
            c.after < 0 ? end + c.after : c.after;
        Rig rig(nullptr, ec);
        rig.StopTracing();
        EXPECT_EQ(rig.Run(c.args), EXIT_NO_ANSWER);
        EXPECT_NE(access("stage.rd", F_OK), 0) << "a partial backup was left";
        std::string wait = c.ibf ? "EC input buffer" : "EC output buffer";
        EXPECT_NE(rig.Output().find("NO ANSWER!! The " + wait + " wait ran out " + c.where +
                                    " Nothing more was sent to the EC."),
                  std::string::npos)
            << rig.Output();
    }
    SetWaitLimits({0, 0});
}

TEST(Read, TheFileEqualsTheChipAndEachPassCostsFiveAccessesAByte)
{
    Rig rig;
    remove("backup.bin");
    ASSERT_EQ(RunReadOnly(rig, {"/read", "backup.bin"}), EXIT_OK) << rig.Output();
    std::vector<uint8_t> chip = rig.Flash();
    EXPECT_EQ(ReadFileBytes("backup.bin"), chip);
    EXPECT_NE(rig.Output().find("Saved            : 524288 bytes into backup.bin\r\n"
                                "Checksum         : " + Hex(ByteSum(chip, chip.size()), "%04X") + "\r\n"
                                "CRC-32           : " + Hex(Crc32(0, chip.data(), chip.size()), "%08X") + "\r\n"),
              std::string::npos)
        << rig.Output();
    EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::ClosedExit);

    // A pass costs five accesses a byte, and 67 for each step's FAST_READ
    // (the wait before it, its opcode, address and dummy byte, and the wait
    // that ends it): a step of at most a percent, so that the progress line
    // moves, is 128 steps for either size; a block more is its bytes alone.
    uint64_t cost[2];
    for (int i = 0; i < 2; ++i) {
        Rig sized;
        sized.StopTracing();
        remove("part.bin");
        ASSERT_EQ(sized.Run({"/read", "part.bin", i ? "0x20000" : "0x10000"}), EXIT_OK);
        EXPECT_EQ(ReadFileBytes("part.bin"), std::vector<uint8_t>(chip.begin(), chip.begin() + (i + 1) * 0x10000));
        cost[i] = sized.Ec().Stats().Accesses;
    }
    EXPECT_EQ(cost[1] - cost[0], 2u * 5 * 0x10000);
    EXPECT_LT(cost[0] - 2 * (5 * 0x10000 + 128 * 67), 300u);
}

TEST(Read, KnowsNoSizeForAnUnknownPartUnlessGivenOne)
{
    FlashPart oddPart = *sim::DefaultChip().Part;
    oddPart.Rdid[2] = 0x7E;  // outside the capacity rule
    sim::ChipInfo odd = sim::DefaultChip();
    odd.Part = &oddPart;
    remove("odd.bin");
    Rig rig(&odd);
    EXPECT_EQ(RunReadOnly(rig, {"/read", "odd.bin"}), EXIT_BAD_IMAGE);
    EXPECT_NE(rig.Output().find("SIZE UNKNOWN!!"), std::string::npos);
    EXPECT_TRUE(ReadFileBytes("odd.bin").empty());
    EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::ClosedExit);

    Rig given(&odd);
    given.StopTracing();
    ASSERT_EQ(given.Run({"/read", "odd.bin", "65536", "/j"}), EXIT_OK);
    EXPECT_EQ(ReadFileBytes("odd.bin"), std::vector<uint8_t>(given.Flash().begin(), given.Flash().begin() + 65536));
    EXPECT_EQ(given.Ec().Mode(), sim::EcMode::ClosedExitAlt);

    // More than a known size is refused after identification.
    Rig large;
    large.StopTracing();
    remove("large.bin");
    EXPECT_EQ(large.Run({"/read", "large.bin", "0x100000"}), EXIT_BAD_IMAGE);
    EXPECT_NE(large.Output().find("SIZE ERROR!! The chip holds 524288 bytes"), std::string::npos);
}

// The chip is read in pieces of 256 bytes: a flip at either edge of a piece,
// or of the chip, must be seen as well as one inside.
TEST(Read, TwoReadsThatDisagreeWriteNoFile)
{
    struct Flip {
        uint32_t Address;
        uint64_t Nth;  // the first pass or the second one sees the flipped bit
    };
    for (Flip f : {Flip{0x4321, 1}, Flip{0x4321, 2}, Flip{0, 2}, Flip{0x42FF, 1}, Flip{0x4300, 2},
                   Flip{0x7FFFF, 1}}) {
        SCOPED_TRACE(f.Address);
        sim::ChipConfig flip;
        flip.Faults.FlipsRead = true;
        flip.Faults.FlipAddress = f.Address;
        flip.Faults.FlipOnRead = f.Nth;
        Rig rig(nullptr, {}, flip);
        remove("flip.bin");
        EXPECT_EQ(RunReadOnly(rig, {"/read", "flip.bin"}), EXIT_FLASH_FAILED);
        uint8_t first = static_cast<uint8_t>(rig.Flash()[f.Address] ^ (f.Nth == 1 ? 1 : 0));
        EXPECT_NE(rig.Output().find("READ MISMATCH!! The two reads disagree on 1 byte(s), the first at " +
                                    Hex(f.Address) + " (" + Hex(first, "%02X") +
                                    " the first time). flip.bin was not written"),
                  std::string::npos)
            << rig.Output();
        EXPECT_NE(access("flip.bin", F_OK), 0);
        EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::ClosedExit);
    }
}

// FILE is claimed before the EC is touched: a name that is taken, whatever
// has it, or can't be created costs no port access and creates nothing.
TEST(Read, AFileThatCantBeCreatedNewIsRefusedBeforeTheEc)
{
    mkdir("folder", 0755);
    unlink("dangling.bin");
    ASSERT_EQ(symlink("nowhere.bin", "dangling.bin"), 0);
    for (std::string name : {"../../dev/null", "dangling.bin", "folder", "nodir/backup.bin"}) {
        SCOPED_TRACE(name);
        Rig rig;
        EXPECT_EQ(rig.Run({"/read", name, "16"}), EXIT_BAD_IMAGE);
        EXPECT_FALSE(rig.Trace().TouchedPorts());
        EXPECT_NE(rig.Output().find("FILE WRITE ERROR!! " + name + " can't be created"), std::string::npos)
            << rig.Output();
    }
    EXPECT_NE(access("nowhere.bin", F_OK), 0) << "the link was followed";
}

// A backup that can't be saved whole is not left behind: here a disk that
// fills up (a run cut short: NoAnswerNamesTheStageItStoppedIn).
TEST(Read, NoPartialFileIsLeftBehind)
{
    Rig rig;
    rig.StopTracing();
    unlink("full.bin");
    SetWriteFailAfter(100 * 1024);
    int status = rig.Run({"/read", "full.bin"});
    SetWriteFailAfter(-1);
    EXPECT_EQ(status, EXIT_BAD_IMAGE);
    EXPECT_NE(rig.Output().find("FILE WRITE ERROR!! full.bin could not be written whole; it was deleted."),
              std::string::npos)
        << rig.Output();
    EXPECT_NE(access("full.bin", F_OK), 0);
}

TEST(Verify, EqualAndDifferingChips)
{
    std::vector<uint8_t> image = MakeImage(0x2A345);
    std::string name = WriteTempFile("verify.bin", image);
    Rig rig;
    std::copy(image.begin(), image.end(), rig.Flash().begin());
    ASSERT_EQ(RunReadOnly(rig, {"/verify", name}), EXIT_OK) << rig.Output();
    EXPECT_EQ(CountOf(rig.Output(), " -- Equal. "), 3u);
    EXPECT_NE(rig.Output().find("The chip holds the image: all 172869 bytes equal."), std::string::npos);
    EXPECT_TRUE(rig.Output().find("Current F/W Checksum : " + Hex(ByteSum(image, image.size()) + 0x80, "%04X")) !=
                std::string::npos);
    EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::ClosedExit);

    Rig other;
    std::copy(image.begin(), image.end(), other.Flash().begin());
    other.Flash()[0x1ABCD] ^= 0x40;
    other.Flash()[0x1FFFF] ^= 0x01;
    other.Flash()[0x2A345] ^= 0x01;  // past the image's end: not compared
    ASSERT_EQ(RunReadOnly(other, {"/verify", name, "p", "/j"}), EXIT_FLASH_FAILED) << other.Output();
    EXPECT_NE(other.Output().find("Block 0          : ================ -- Equal. \r\n"
                                  "Block 1          : ================ -- 2 byte(s) differ, the first at 1ABCD. \r\n"
                                  "Block 2          : =========== -- Equal. \r\n"),
              std::string::npos)
        << other.Output();
    EXPECT_NE(other.Output().find("VERIFY FAILED!! 1 of 3 blocks differ from the image."), std::string::npos);
    EXPECT_EQ(other.Ec().Mode(), sim::EcMode::ClosedExitAlt);
    EXPECT_EQ(RunState.BlocksUnchanged, 2);
    EXPECT_EQ(RunState.BlocksFailed, 1);

    Rig mismatch;
    mismatch.SetEcModule("OTHER");
    EXPECT_EQ(mismatch.Run({"/verify", name}), EXIT_MODULE_MISMATCH);
    EXPECT_EQ(mismatch.Ec().Mode(), sim::EcMode::Normal);
}

TEST(Update, RewritesOnlyTheSectorThatDiffers)
{
    std::vector<uint8_t> image = MakeImage(0x2A345);
    std::string name = WriteTempFile("update.bin", image);
    Rig rig;
    std::copy(image.begin(), image.end(), rig.Flash().begin());
    rig.Flash()[0x18000] ^= 0xFF;
    rig.DecodeSpi();
    ASSERT_EQ(rig.Run({"/update", name, "p"}), EXIT_OK) << rig.Output();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), rig.Flash().begin()));
    EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::ClosedExit);
    EXPECT_NE(rig.Output().find("Plan             : 1 of 43 sectors to write, 42 equal, 0 kept; 4096 bytes to program\r\n"
                                "Erases           : 0 of 64 KiB (0xD8), 1 of 4 KiB (0x20)\r\n"),
              std::string::npos)
        << rig.Output();
    EXPECT_EQ(RunState.BlocksWritten, 1);
    EXPECT_EQ(RunState.BlocksUnchanged, 2);
    EXPECT_TRUE(rig.Output().ends_with("Current F/W Checksum : " + Hex(ByteSum(image, image.size()), "%04X") + "\r\n"));

    // One status write unprotects; one sector erase and its 16 pages, all in
    // the sector at 0x18000.
    std::vector<std::string> writes = FlashWrites(rig.SpiLog());
    ASSERT_EQ(writes.size(), 1u + 1 + 16);
    EXPECT_TRUE(writes[0].starts_with("WRSR")) << writes[0];
    EXPECT_EQ(writes[1], "SECTOR_ERASE 018000");
    for (size_t i = 2; i < writes.size(); ++i)
        EXPECT_TRUE(writes[i].starts_with("PAGE_PROGRAM 018")) << writes[i];
}

TEST(Update, AnEqualChipIsLeftAloneForAThirdOfTheClassicRunsAccesses)
{
    std::vector<uint8_t> image = MakeImage(0x30000);
    std::string name = WriteTempFile("same.bin", image);
    Rig classic;
    classic.StopTracing();
    std::copy(image.begin(), image.end(), classic.Flash().begin());
    ASSERT_EQ(classic.Run({name, "p"}), EXIT_OK);

    Rig rig;
    std::copy(image.begin(), image.end(), rig.Flash().begin());
    ASSERT_EQ(RunReadOnly(rig, {"/update", name, "p", "x", "/j"}), EXIT_OK) << rig.Output();
    EXPECT_NE(rig.Output().find("The EC is already up to date: every block equals the image. Nothing was written."),
              std::string::npos);
    EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::ClosedExitAlt);
    EXPECT_LE(rig.Ec().Stats().Accesses * 3, classic.Ec().Stats().Accesses);

    // The report's estimate of the time on the hardware (1 us an access, the
    // part's typical busy times): under a tenth, since nothing is erased.
    auto estimate = [](Rig& run) { return run.Ec().Stats().Accesses * 1000 + run.Chip().Stats().TypicalBusyNs; };
    EXPECT_EQ(rig.Chip().Stats().TypicalBusyNs, 0u);
    EXPECT_GT(classic.Chip().Stats().TypicalBusyNs, 0u);
    EXPECT_LT(estimate(rig) * 10, estimate(classic));
}

}  // namespace
}  // namespace zar::test
