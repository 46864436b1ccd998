// A run cut short, then the next one: the EC and the chip as the first run
// left them (follow mode, an open transaction, a busy chip, AAI mode), the
// fault gone, and the command the console told the user to type.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Applications/Main/Main.h"
#include "Applications/Main/RunState.h"
#include "Harness.h"
#include "ec/EcChannel.h"
#include "platform/Platform.h"
#include "tools/zar-sim/SimFrontEnd.h"

namespace zar::test {
namespace {

constexpr int IMAGE_SIZE = 0x1A345;  // two blocks, the last one short

const sim::ChipInfo* Part(sim::ProgramMethod method)
{
    return FindPart([method](const sim::ChipInfo& c) {
        return c.FitsAlgorithms && c.Method == method && c.Part->Size >= 2 * BLOCK_SIZE;
    });
}

sim::EcConfig Stopping(sim::ForeignByte way, uint64_t ibfAfterWrites, uint64_t obfAfterAnswers = ~0ull)
{
    sim::EcConfig config;
    config.Foreign = way;
    config.Faults.IbfStuckAfterWrites = ibfAfterWrites;
    config.Faults.ObfStuckAfterAnswers = obfAfterAnswers;
    return config;
}

class Rerun : public ::testing::Test {
protected:
    void SetUp() override
    {
        image_ = MakeImage(IMAGE_SIZE);
        name_ = WriteTempFile("rerun.bin", image_);
        SetWaitLimits({2000, 2000});
    }
    void TearDown() override { SetWaitLimits({0, 0}); }

    // The first run, cut short by the rig's fault; then the fault gone and
    // the command the console gave. Returns the second run's status.
    int CutShortThenRerun(Rig& rig, const std::vector<std::string>& first)
    {
        rig.StopTracing();
        EXPECT_EQ(rig.Run(first), EXIT_NO_ANSWER);
        firstOutput_ = rig.Output();
        firstBackupWritten_ = RunState.Update.BackupWritten;
        rig.Ec().NextRun();
        rig.Chip().NextRun();
        return rig.Run(AdvisedCommand(firstOutput_));
    }

    bool Flashed(Rig& rig) { return std::equal(image_.begin(), image_.end(), rig.Flash().begin()); }

    std::vector<uint8_t> image_;
    std::string name_;
    std::string firstOutput_;
    bool firstBackupWritten_ = false;
};

// The EC, stopped in follow mode and left there, gets a normal-mode command
// first in the next run. However it takes that, the advised rerun flashes
// the image and closes the EC.
TEST_F(Rerun, EveryWayAnEcInFollowModeTakesTheEntryCommand)
{
    const sim::ForeignByte ways[] = {sim::ForeignByte::Ignore, sim::ForeignByte::SubCommand,
                                     sim::ForeignByte::Serve, sim::ForeignByte::Leave};
    for (sim::ForeignByte way : ways) {
        for (uint64_t writes : {520u, 5000u, 100000u}) {  // an erase, the blank check, programming
            SCOPED_TRACE(testing::Message() << "way " << int(way) << ", after " << writes << " writes");
            Rig rig(nullptr, Stopping(way, writes));
            EXPECT_EQ(CutShortThenRerun(rig, {name_}), EXIT_OK) << rig.Output();
            EXPECT_EQ(AdvisedCommand(firstOutput_), (std::vector<std::string>{name_, "p"}));
            EXPECT_TRUE(Flashed(rig));
            EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::ClosedExit);
        }
    }
}

// An SST part cut short in AAI mode refuses RDID and RES: the rerun ends AAI
// mode with WRDI and identifies the part, then writes it with its own
// algorithm. A good run never gets there, so its bytes are unchanged.
TEST_F(Rerun, PartLeftInAaiModeIsIdentifiedAfterWrdi)
{
    for (sim::ProgramMethod method : {sim::ProgramMethod::AaiWord, sim::ProgramMethod::AaiByte}) {
        const sim::ChipInfo* chip = Part(method);
        ASSERT_NE(chip, nullptr);
        SCOPED_TRACE(chip->Part->Name);
        Rig rig(chip, Stopping(sim::ForeignByte::Ignore, 200000));  // inside block 0's AAI programming
        rig.StopTracing();
        ASSERT_EQ(rig.Run({name_, "p"}), EXIT_NO_ANSWER);
        rig.Ec().NextRun();
        rig.Chip().NextRun();
        ASSERT_TRUE(rig.Chip().Status() & 0x40) << "not left in AAI mode";

        EXPECT_EQ(rig.Run({name_, "p"}), EXIT_OK) << rig.Output();
        char id[64];
        if (chip->Part->AnswersRdid)
            snprintf(id, sizeof id, "Device ID        : %X %X %X 0 ", chip->Part->Rdid[0], chip->Part->Rdid[1], chip->Part->Rdid[2]);
        else
            snprintf(id, sizeof id, "Device ID        : %X %X %X %X ", chip->Part->ResId[0], chip->Part->ResId[1],
                     chip->Part->ResId[0], chip->Part->ResId[1]);
        EXPECT_NE(rig.Output().find(id), std::string::npos) << rig.Output();
        EXPECT_EQ(RunState.Chip.SstByRes() ? 1 : 0, chip->Part->AnswersRdid ? 0 : 1);
        EXPECT_TRUE(Flashed(rig));
    }
}

// A rerun without p asks an EC in follow mode for its module name. An EC
// that ignores that can't be checked: the run stops and says to skip the
// check with p. One that answers passes the check.
TEST_F(Rerun, ModuleCheckAgainstAnEcInFollowMode)
{
    for (sim::ForeignByte way : {sim::ForeignByte::Ignore, sim::ForeignByte::SubCommand, sim::ForeignByte::Serve}) {
        SCOPED_TRACE(int(way));
        Rig rig(nullptr, Stopping(way, ~0ull, 3000));
        rig.StopTracing();
        ASSERT_EQ(rig.Run({name_, "x", "y", "/j"}), EXIT_NO_ANSWER);
        EXPECT_EQ(AdvisedCommand(rig.Output()), (std::vector<std::string>{name_, "p", "y", "/j"}));
        rig.Ec().NextRun();
        rig.Chip().NextRun();

        int status = rig.Run({name_, "x", "y", "/j"});  // the advice not taken
        if (way == sim::ForeignByte::Serve) {
            EXPECT_EQ(status, EXIT_OK) << rig.Output();
            EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::ClosedExitAlt);
            continue;
        }
        EXPECT_EQ(status, EXIT_NO_ANSWER) << rig.Output();
        EXPECT_NE(rig.Output().find("The EC did not answer the module check. Run again:\r\n  zar " + name_ +
                                    " x y /j\r\n"),
                  std::string::npos)
            << rig.Output();
        EXPECT_NE(rig.Output().find("still in follow mode and can't answer the check; skip it with p:\r\n  zar " +
                                    name_ + " p y /j\r\n"),
                  std::string::npos);
        EXPECT_EQ(RunState.Rerun, RerunAdvice::SameCommand);
        EXPECT_EQ(rig.Run({name_, "p", "y", "/j"}), EXIT_OK) << rig.Output();
        EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::ClosedExitAlt);
        EXPECT_TRUE(Flashed(rig));
    }
}

// The closing command written but never taken: the EC takes it once it
// answers again and restarts in normal mode; the advised rerun (with p) is
// right either way.
TEST_F(Rerun, ClosingCommandNotTaken)
{
    Rig good;
    good.StopTracing();
    ASSERT_EQ(good.Run({name_}), EXIT_OK);

    Rig rig(nullptr, Stopping(sim::ForeignByte::Ignore, good.Ec().Stats().Writes - 1));
    EXPECT_EQ(CutShortThenRerun(rig, {name_}), EXIT_OK) << rig.Output();
    EXPECT_NE(firstOutput_.find("The EC did not take the closing command: it may still be in follow mode."),
              std::string::npos)
        << firstOutput_;
    EXPECT_NE(firstOutput_.find("Do not switch off. Run again with p"), std::string::npos);
    EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::ClosedExit);
    EXPECT_TRUE(Flashed(rig));
}

// The command to type keeps what came before the image: "/log FILE" and the
// verb; zar-sim's rerun is the same command.
TEST_F(Rerun, AdviceKeepsTheLogAndTheVerb)
{
    struct Case {
        std::vector<std::string> First, Advised;
        uint64_t StopAfter = 5000;  // EC writes: in the module check's wake, or in the update's read pass
        const char* Where = "";      // where the console says the wait ran out
    } cases[] = {
        {{"/update", name_}, {"/update", name_, "p"}},
        {{"/log", "rerun.log", name_, "x", "y"}, {"/log", "rerun.log", name_, "p", "y"}},
        // /backup stays until its file is written, then the command leaves it out.
        {{"/keep", "20000-2FFFF", "/backup", "rerun-1.bin", "/update", name_},
         {"/keep", "20000-2FFFF", "/backup", "rerun-1.bin", "/update", name_, "p"},
         5000,
         "wait ran out reading the chip for the plan, in the sector at "},
        {{"/keep", "20000-2FFFF", "/backup", "rerun-2.bin", "/update", name_},
         {"/keep", "20000-2FFFF", "/update", name_, "p"},
         300000},
    };
    remove("rerun-1.bin");
    remove("rerun-2.bin");
    for (Case& c : cases) {
        Rig rig(nullptr, Stopping(sim::ForeignByte::Ignore, c.StopAfter));
        std::vector<uint8_t> before(rig.Flash().begin(), rig.Flash().begin() + 0x1B000);  // to the last sector's end
        EXPECT_EQ(CutShortThenRerun(rig, c.First), EXIT_OK) << rig.Output();
        EXPECT_EQ(AdvisedCommand(firstOutput_), c.Advised) << firstOutput_;
        EXPECT_NE(firstOutput_.find(c.Where), std::string::npos) << firstOutput_;
        EXPECT_TRUE(Flashed(rig));
        if (c.First.size() > 3 && c.First[2] == "/backup") {
            EXPECT_EQ(ReadFileBytes(c.First[3]), before);
        }

        std::vector<std::string> storage = {"zar"};
        storage.insert(storage.end(), c.First.begin(), c.First.end());
        std::vector<char*> argv, out(storage.size() + 1);
        for (std::string& word : storage)
            argv.push_back(word.data());
        RunState.Rerun = RerunAdvice::SkipModuleCheck;  // as the first run left it
        RunState.Update.BackupWritten = firstBackupWritten_;
        int count = sim::RerunCommandLine(static_cast<int>(argv.size()), argv.data(), out.data());
        EXPECT_EQ(std::vector<std::string>(out.begin() + 1, out.begin() + count), c.Advised);
    }
}

// No answer to follow-mode entry is not the end: the identification that
// follows finds out whether the EC relays SPI. A dead EC still ends the run
// at its first wait, having sent nothing that writes.
TEST_F(Rerun, NoAnswerToFollowModeEntry)
{
    Rig rig(nullptr, Stopping(sim::ForeignByte::Ignore, ~0ull, 32));  // the module check is answered, the entry not
    EXPECT_EQ(rig.Run({name_}), EXIT_NO_ANSWER);
    EXPECT_NE(rig.Output().find("No answer to follow-mode entry: the EC may still be in follow mode from a run that "
                                "was cut short. Going on."),
              std::string::npos)
        << rig.Output();
    EXPECT_NE(rig.Output().find("The EC output buffer wait ran out before the first block."), std::string::npos);
    EXPECT_TRUE(rig.Trace().CommandStream().ends_with(" DC 01 02 05 R"));
}

// A verb that only looks and leaves the EC in follow mode (cut short, or its
// entry not acknowledged) gives the command that hands it back: /update with
// p, which on a chip that holds the image writes nothing and closes.
TEST_F(Rerun, AVerbThatOnlyLooksSaysHowToHandTheEcBack)
{
    for (sim::ForeignByte way : {sim::ForeignByte::Ignore, sim::ForeignByte::SubCommand, sim::ForeignByte::Serve}) {
        SCOPED_TRACE(int(way));
        Rig rig(nullptr, Stopping(way, ~0ull, 0x12000));  // in block 1 of the compare
        std::copy(image_.begin(), image_.end(), rig.Flash().begin());
        EXPECT_EQ(CutShortThenRerun(rig, {"/verify", name_, "p"}), EXIT_OK) << rig.Output();
        EXPECT_EQ(AdvisedCommand(firstOutput_), (std::vector<std::string>{"/update", name_, "p"})) << firstOutput_;
        EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::ClosedExit);
        EXPECT_TRUE(Flashed(rig));
        EXPECT_EQ(rig.Chip().Stats().Erases, 0u);
    }

    sim::EcConfig unacked;
    unacked.FollowAck = 0x00;
    Rig probe(nullptr, unacked);
    probe.StopTracing();
    EXPECT_EQ(probe.Run({"/log", "look.log", "/probe", "/j"}), EXIT_OK);
    EXPECT_EQ(probe.Ec().Mode(), sim::EcMode::Follow);
    EXPECT_NE(probe.Output().find("No closing command sent"), std::string::npos);
    EXPECT_EQ(AdvisedCommand(probe.Output()),
              (std::vector<std::string>{"/log", "look.log", "/update", "IMAGE", "p", "x", "/j"}))
        << probe.Output();
}

// Between runs the simulated EC finishes what it had: the byte in its input
// buffer is taken, a held answer shows, and an EC that took its closing
// command restarts in normal mode.
TEST(LeftBehind, EcBetweenRuns)
{
    sim::EcConfig config;
    config.Faults.IbfStuckAfterWrites = 0;
    Rig rig(nullptr, config);
    rig.With([] { PortWriteByte(EC_COMMAND_PORT, EC_CMD_FOLLOW_ENTER); });
    EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::Normal);
    EXPECT_EQ(rig.Ec().Stats().StuckAt, 1u);
    rig.Ec().NextRun();
    EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::Follow);
    uint8_t status = 0, ack = 0;
    rig.With([&] {
        status = PortReadByte(EC_STATUS_PORT);
        ack = PortReadByte(EC_DATA_PORT);
        PortWriteByte(EC_COMMAND_PORT, EC_CMD_FOLLOW_EXIT_ALT);
    });
    EXPECT_EQ(status, EC_STATUS_OBF);
    EXPECT_EQ(ack, EC_FOLLOW_ACK);
    EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::ClosedExitAlt);
    rig.Ec().NextRun();
    EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::Normal);
}

// What an EC in follow mode makes of follow-mode entry and of a memory read,
// each way the simulator offers (-1: no answer).
TEST(LeftBehind, NormalModeCommandsInFollowMode)
{
    struct Case {
        sim::ForeignByte Way;
        int Entry, Memory;
        sim::EcMode After;
    } cases[] = {
        {sim::ForeignByte::Ignore, -1, -1, sim::EcMode::Follow},
        {sim::ForeignByte::SubCommand, 0xFF, -1, sim::EcMode::Follow},  // 0xDC is FOLLOW_READ, nothing selected
        {sim::ForeignByte::Serve, EC_FOLLOW_ACK, 'T', sim::EcMode::Follow},
        {sim::ForeignByte::Leave, EC_FOLLOW_ACK, 'T', sim::EcMode::Normal},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.Way));
        sim::EcConfig config;
        config.Foreign = c.Way;
        Rig rig(nullptr, config);
        int entry = 0, memory = 0;
        rig.With([&] {
            auto answer = [] {
                return (PortReadByte(EC_STATUS_PORT) & EC_STATUS_OBF) ? PortReadByte(EC_DATA_PORT) : -1;
            };
            PortWriteByte(EC_COMMAND_PORT, EC_CMD_FOLLOW_ENTER);
            answer();
            PortWriteByte(EC_COMMAND_PORT, EC_CMD_FOLLOW_ENTER);
            entry = answer();
            PortWriteByte(EC_COMMAND_PORT, EC_CMD_READ_MEMORY);
            PortWriteByte(EC_DATA_PORT, 0x08);
            PortWriteByte(EC_DATA_PORT, 0x80);
            memory = answer();
        });
        EXPECT_EQ(entry, c.Entry);
        EXPECT_EQ(memory, c.Memory);
        EXPECT_EQ(rig.Ec().Mode(), c.After);
    }
}

}  // namespace
}  // namespace zar::test
