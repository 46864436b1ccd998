// The run's record ("/log FILE"): what it holds on each road, that runs
// append, that a log that can't take the record stops the run before the EC,
// and that the record is on disk and closed before the closing command.
#include <gtest/gtest.h>
#include <dirent.h>
#include <limits.h>
#include <unistd.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "Applications/Main/FlashState.h"
#include "Applications/Main/Main.h"
#include "Applications/Main/Version.h"
#include "Harness.h"
#include "ec/EcChannel.h"
#include "platform/Machine.h"

namespace zar::test {
namespace {

std::string ReadText(const std::string& path)
{
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& prefix)
{
    std::vector<std::string> found;
    for (const std::string& line : Lines(text))
        if (line.starts_with(prefix))
            found.push_back(line);
    return found;
}

class RunRecord : public ::testing::Test {
protected:
    void SetUp() override
    {
        unlink(log_.c_str());
        image_ = MakeImage(0x14321);
        imageName_ = WriteTempFile("logged.bin", image_);
    }
    void TearDown() override
    {
        SetSimulatedMachine(nullptr);
        SetWaitLimits({0, 0});
    }

    std::string Log() { return ReadText(log_); }

    const std::string log_ = TempPath("run.log");
    std::vector<uint8_t> image_;
    std::string imageName_;
};

TEST_F(RunRecord, ClassicRunKeepsItsPortsAndTextAndAppendsItsRecord)
{
    Rig plain;
    ASSERT_EQ(plain.Run({imageName_, "p"}), EXIT_OK);

    MachineIdentity machine{"ACME Inc.", "X1 \"Carbon\"", "SN 42"};
    SetSimulatedMachine(&machine);
    Rig logged;
    ASSERT_EQ(logged.Run({"/log", log_, imageName_, "p"}), EXIT_OK);
    EXPECT_EQ(logged.Trace().Lines(), plain.Trace().Lines());
    EXPECT_EQ(logged.Output(), plain.Output());

    std::vector<std::string> lines = Lines(Log());
    ASSERT_GT(lines.size(), 3u);
    for (const std::string& line : lines)
        ASSERT_TRUE(line.ends_with("\r")) << "every line ends with CR LF: " << line;
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(std::string("ZAR-RUN date=\\d{4}-\\d\\d-\\d\\d "
                                                                  "time=\\d\\d:\\d\\d:\\d\\d version=") +
                                                      ZAR_VERSION +
                                                      " manufacturer=\"ACME Inc.\" product=\"X1 \\\\x22Carbon\\\\x22\" "
                                                      "serial=\"SN 42\"\r")))
        << lines[0];
    EXPECT_EQ(lines[1], "ZAR-CMD zar /log run.log logged.bin p\r");

    // The console text up to the closing command without the screen
    // controls, each line indented; the checksum line comes after the
    // command and is in the summary instead.
    std::string console = plain.Output();
    console = console.substr(0, console.rfind("\r\nCurrent F/W Checksum"));
    console = std::regex_replace(console, std::regex("\\{(ATTR [0-9A-F]+|CLS|POS [0-9]+,[0-9]+)\\}"), "");
    std::string expected;
    for (const std::string& line : Lines(console))
        expected += line == "\r" ? "\r\n" : "  " + line + "\n";
    std::string record;
    for (size_t i = 2; i + 1 < lines.size(); ++i)
        record += lines[i] + "\n";
    EXPECT_EQ(record, expected);

    char summary[300];
    snprintf(summary, sizeof summary,
             "ZAR-END serial=\"SN 42\" image=\"logged.bin\" size=%d checksum=%04X chip=\"W25X40\" "
             "maker=\"Winbond\" id=EF301300 written=2 unchanged=0 failed=0 status=0 (OK) close=FE (FOLLOW_EXIT)\r",
             0x14321, ByteSum(image_, image_.size()));
    EXPECT_EQ(lines.back(), summary);
}

TEST_F(RunRecord, EveryRoadAppendsOneRecordThatTellsHowItEnded)
{
    Rig good;
    ASSERT_EQ(good.Run({"/log", log_, imageName_, "p", "x", "/j"}), EXIT_OK);
    const std::string first = Log();
    EXPECT_NE(first.find("status=0 (OK) close=FC (FOLLOW_EXIT_ALT)\r\n"), std::string::npos);

    // A mismatch whose EC name tries to start a record line of its own.
    Rig mismatch;
    mismatch.SetEcModule("X\nZAR-END\x01status=0");
    EXPECT_EQ(mismatch.Run({"/log", log_, imageName_}), EXIT_MODULE_MISMATCH);
    Rig usage;
    EXPECT_EQ(usage.Run({"/log", log_}), EXIT_OK);
    EXPECT_FALSE(usage.Trace().TouchedPorts());
    Rig missing;
    EXPECT_EQ(missing.Run({"/log", log_, "nothere.bin"}), EXIT_BAD_IMAGE);
    Rig noChip;
    noChip.DetachChip();
    EXPECT_EQ(noChip.Run({"/log", log_, imageName_, "p"}), EXIT_NO_ANSWER);

    std::string log = Log();
    EXPECT_TRUE(log.starts_with(first)) << "an earlier record was changed";
    std::vector<std::string> ends = LinesStartingWith(log, "ZAR-END");
    ASSERT_EQ(LinesStartingWith(log, "ZAR-RUN").size(), 5u);
    ASSERT_EQ(ends.size(), 5u);
    EXPECT_NE(log.find("\r\n  Module is: X\r\n  ZAR-END?status=0"), std::string::npos);
    EXPECT_NE(ends[1].find("image=\"logged.bin\" size=0 checksum=00F0 chip=none written=0 unchanged=0 failed=0 "
                           "status=1 (MODULE_MISMATCH) close=none"),
              std::string::npos)
        << ends[1];
    EXPECT_NE(ends[2].find("image=none size=0 checksum=0000 chip=none "), std::string::npos) << ends[2];
    EXPECT_NE(ends[2].find("status=0 (OK) close=none"), std::string::npos) << ends[2];
    EXPECT_NE(ends[3].find("image=\"nothere.bin\""), std::string::npos) << ends[3];
    EXPECT_NE(ends[3].find("status=2 (BAD_IMAGE) close=none"), std::string::npos) << ends[3];
    EXPECT_NE(ends[4].find(" chip=absent id=FFFFFFFF written=0 unchanged=0 failed=0 status=4 (NO_ANSWER) close=FE "),
              std::string::npos)
        << ends[4];
}

// Whatever a verb does, its record names the right word as the image, and its
// summary agrees with the status the run returned and with what the EC got.
TEST_F(RunRecord, VerbRoadsRecordTheirStatusAndClosingCommand)
{
    struct Case {
        std::vector<std::string> args;
        std::string image;
    } cases[] = {
        {{"/probe"}, "image=none"},
        {{"/verify", imageName_, "p"}, "image=\"logged.bin\""},
        {{"/update", imageName_, "p"}, "image=\"logged.bin\""},
        {{"/read", "copy.bin", "0x10000"}, "image=\"copy.bin\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        unlink(log_.c_str());
        unlink("copy.bin");
        std::vector<std::string> args = {"/log", log_};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Rig rig;
        int status = rig.Run(args);
        std::vector<std::string> ends = LinesStartingWith(Log(), "ZAR-END");
        ASSERT_EQ(ends.size(), 1u);
        EXPECT_NE(ends[0].find(c.image), std::string::npos) << ends[0];
        EXPECT_NE(ends[0].find(" status=" + std::to_string(status) + " ("), std::string::npos) << ends[0];
        const char* close = rig.Ec().Mode() == sim::EcMode::ClosedExit      ? " close=FE (FOLLOW_EXIT)"
                            : rig.Ec().Mode() == sim::EcMode::ClosedExitAlt ? " close=FC (FOLLOW_EXIT_ALT)"
                                                                            : " close=none";
        EXPECT_TRUE(ends[0].ends_with(std::string(close) + "\r")) << ends[0];
    }
}

TEST_F(RunRecord, ALogThatCantTakeTheRecordStopsTheRunBeforeTheEc)
{
    mkdir("logdir", 0755);
    std::vector<uint8_t> notALog = {'M', 'Z', 0x90, 0x00, 1, 2, 3, 4, 5};
    WriteTempFile("other.bin", notALog);
    for (const std::string& log : {std::string("nodir/run.log"), std::string("logdir"), std::string("/dev/full"),
                                   std::string("other.bin"), imageName_}) {
        SCOPED_TRACE(log);
        Rig rig;
        EXPECT_EQ(rig.Run({"/log", log, imageName_, "p"}), EXIT_BAD_IMAGE);
        EXPECT_FALSE(rig.Trace().TouchedPorts());
        EXPECT_NE(rig.Output().find("LOG FILE ERROR!! " + log), std::string::npos) << rig.Output();
    }
    EXPECT_EQ(ReadFileBytes("other.bin"), notALog);
    EXPECT_EQ(ReadFileBytes(imageName_), image_) << "the image was appended to";
}

// At the closing command's write to the command port the record must be on
// the disk and no descriptor of this process may hold the log open. Writes of
// the same byte earlier in the run (data bytes) show that the test can see
// the log open.
class LogWatch : public MemoryTrace {
public:
    explicit LogWatch(std::string path) : path_(std::move(path)) {}
    void Access(bool write, uint8_t port, uint8_t value) override
    {
        MemoryTrace::Access(write, port, value);
        if (write && port == EC_COMMAND_PORT && (value == EC_CMD_FOLLOW_EXIT || value == EC_CMD_FOLLOW_EXIT_ALT))
            seen.push_back({accesses.size() - 1, LogOpen(), ReadText(path_).find("\nZAR-END ") != std::string::npos});
    }
    struct Moment {
        size_t Access;
        bool Open;
        bool Summary;
    };
    std::vector<Moment> seen;

private:
    bool LogOpen() const
    {
        bool open = false;
        DIR* fds = opendir("/proc/self/fd");
        while (dirent* entry = fds ? readdir(fds) : nullptr) {
            char target[PATH_MAX] = {};
            std::string link = std::string("/proc/self/fd/") + entry->d_name;
            if (readlink(link.c_str(), target, sizeof target - 1) > 0 && path_ == target)
                open = true;
        }
        if (fds)
            closedir(fds);
        return open;
    }
    std::string path_;
};

TEST_F(RunRecord, TheRecordIsWrittenAndClosedBeforeTheClosingCommand)
{
    for (bool alt : {false, true}) {
        SCOPED_TRACE(alt ? "0xFC" : "0xFE");
        unlink(log_.c_str());
        Rig rig;
        LogWatch watch(AbsolutePath("run.log"));
        rig.Ec().SetTrace(&watch);
        std::vector<std::string> args = {"/log", log_, imageName_, "p"};
        if (alt)
            args.insert(args.end(), {"x", "/j"});
        ASSERT_EQ(rig.Run(args), EXIT_OK);
        rig.Ec().SetTrace(nullptr);

        ASSERT_GE(watch.seen.size(), 2u);
        EXPECT_TRUE(watch.seen.front().Open) << "the test can't see the log open";
        const LogWatch::Moment& closing = watch.seen.back();
        EXPECT_EQ(watch.accesses[closing.Access].Value, alt ? EC_CMD_FOLLOW_EXIT_ALT : EC_CMD_FOLLOW_EXIT);
        EXPECT_EQ(closing.Access, watch.accesses.size() - 2) << "the closing command is the last write";
        EXPECT_FALSE(closing.Open);
        EXPECT_TRUE(closing.Summary);
    }
}

// The record says what the run said when the command went out; should the EC
// then not take it, the log learns the status the run really ended with.
TEST_F(RunRecord, AClosingCommandNotTakenIsAddedToTheRecord)
{
    SetWaitLimits({2000, 2000});
    Rig counting;
    ASSERT_EQ(counting.Run({imageName_, "p"}), EXIT_OK);
    sim::EcConfig ec;
    ec.Faults.IbfStuckAfterWrites = counting.Ec().Stats().Writes - 1;  // the closing command is never taken
    Rig rig(nullptr, ec);
    rig.StopTracing();
    EXPECT_EQ(rig.Run({"/log", log_, imageName_, "p"}), EXIT_NO_ANSWER);

    std::string log = Log();
    EXPECT_EQ(LinesStartingWith(log, "ZAR-END").size(), 1u);
    EXPECT_NE(log.find(" status=0 (OK) close=FE (FOLLOW_EXIT)\r\n\r\n  NO ANSWER!! The EC input buffer wait ran out"),
              std::string::npos)
        << log;
    EXPECT_TRUE(log.ends_with("\r\nZAR-AFTER serial=unknown status=4 (NO_ANSWER)\r\n")) << log;
}

}  // namespace
}  // namespace zar::test
