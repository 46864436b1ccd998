// The run's record ("/log FILE"): what it holds on each road, that runs
// append, that a log that can't take the record stops the run before the EC,
// and that the record is on disk and closed before the closing command.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "Applications/Main/Main.h"
#include "Applications/Main/Version.h"
#include "Harness.h"
#include "ec/EcChannel.h"
#include "platform/Crc32.h"
#include "platform/Faults.h"
#include "platform/Machine.h"

namespace zar::test {
namespace {

std::string ReadText(const std::string& path)
{
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// Lines that begin with prefix, without their CR LF.
std::vector<std::string> Lines(const std::string& text, const std::string& prefix = "")
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(prefix))
            lines.push_back(line.substr(0, line.size() - (line.ends_with("\r") ? 1 : 0)));
    return lines;
}

// A reader of the kind a user would write: the key=value words of a record
// line, a quoted value with its \\ and \xHH escapes undone. Words without
// "=" ("(OK)") are skipped.
std::map<std::string, std::string> Fields(const std::string& line)
{
    std::map<std::string, std::string> fields;
    size_t at = 0;
    while (at < line.size()) {
        size_t end = line.find_first_of(" =", at);
        if (end == std::string::npos || line[end] == ' ') {
            at = end == std::string::npos ? end : end + 1;
            continue;
        }
        std::string key = line.substr(at, end - at), value;
        at = end + 1;
        if (at < line.size() && line[at] == '"') {
            for (++at; at < line.size() && line[at] != '"'; ++at) {
                if (line[at] == '\\' && line.compare(at + 1, 1, "x") == 0) {
                    value += static_cast<char>(std::stoi(line.substr(at + 2, 2), nullptr, 16));
                    at += 3;
                } else if (line[at] == '\\') {
                    value += line[++at];
                } else {
                    value += line[at];
                }
            }
            at += 2;  // the closing quote and the blank
        } else {
            end = line.find(' ', at);
            value = line.substr(at, end - at);
            at = end == std::string::npos ? end : end + 1;
        }
        fields[key] = value;
    }
    return fields;
}

// The summary with its duration, the one value that differs from run to run,
// written as "duration=Nms".
std::string WithoutDuration(const std::string& summary)
{
    return std::regex_replace(summary, std::regex(" duration=[0-9]+ms "), " duration=Nms ");
}

std::string Hex8(uint32_t value)
{
    char text[9];
    snprintf(text, sizeof text, "%08X", value);
    return text;
}

class RunRecord : public ::testing::Test {
protected:
    void SetUp() override { unlink(log_.c_str()); }
    void TearDown() override
    {
        SetSimulatedMachine(nullptr);
        SetSimulatedStation(nullptr);
        SetReadFailOffset(-1);
        SetWaitLimits({0, 0});
    }
    std::string Log() { return ReadText(log_); }

    const std::string log_ = TempPath("run.log");
    const std::vector<uint8_t> image_ = MakeImage(0x14321);
    const std::string imageName_ = WriteTempFile("logged.bin", image_);
    const std::string crc_ = Hex8(Crc32(0, image_.data(), image_.size()));
};

TEST_F(RunRecord, ClassicRunKeepsItsPortsAndTextAndAppendsItsRecord)
{
    Rig plain;
    ASSERT_EQ(plain.Run({imageName_, "p"}), EXIT_OK);
    MachineIdentity machine{"ACME Inc.", "X1 \"Carbon\"", "SN 42"};
    SetSimulatedMachine(&machine);
    SetSimulatedStation("Line \"7\"");
    Rig logged;
    ASSERT_EQ(logged.Run({"/log", log_, imageName_, "p"}), EXIT_OK);
    const auto& ports = logged.Trace().accesses;
    EXPECT_TRUE(std::equal(ports.begin(), ports.end(), plain.Trace().accesses.begin(), plain.Trace().accesses.end(),
                           [](const PortAccess& x, const PortAccess& y) {
                               return x.Write == y.Write && x.Port == y.Port && x.Value == y.Value;
                           }));
    EXPECT_EQ(logged.Output(), plain.Output());

    std::string log = Log();
    EXPECT_EQ(CountOf(log, "\n"), CountOf(log, "\r\n")) << "lines end with CR LF";
    std::vector<std::string> lines = Lines(log);
    ASSERT_GT(lines.size(), 3u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(std::string("ZAR-RUN date=\\d{4}-\\d\\d-\\d\\d time=\\d\\d:\\d\\d:"
                                                                  "\\d\\d version=") +
                                                      ZAR_VERSION +
                                                      " manufacturer=\"ACME Inc.\" product=\"X1 \\\\x22Carbon\\\\x22\" "
                                                      "serial=\"SN 42\"")))
        << lines[0];
    EXPECT_EQ(lines[1], "ZAR-CMD zar /log run.log logged.bin p");

    // The console text up to the closing command, the capture's markers of
    // screen controls ({CLS}, {POS 1,3}...) left out, each line indented; the
    // checksum line comes after the command.
    std::string console = plain.Output().substr(0, plain.Output().rfind("\r\nCurrent F/W Checksum"));
    for (size_t at; (at = console.find('{')) != std::string::npos;)
        console.erase(at, console.find('}', at) - at + 1);
    std::string expected, record;
    for (const std::string& line : Lines(console))
        expected += (line.empty() ? "" : "  " + line) + "\n";
    for (size_t i = 2; i + 1 < lines.size(); ++i)
        record += lines[i] + "\n";
    EXPECT_EQ(record, expected);

    char summary[400];
    snprintf(summary, sizeof summary,
             "ZAR-END serial=\"SN 42\" image=\"logged.bin\" size=%d checksum=%04X chip=\"W25X40\" "
             "maker=\"Winbond\" id=EF301300 written=2 unchanged=0 failed=0 duration=Nms image-crc32=%s "
             "station=\"Line \\x227\\x22\" status=0 (OK) close=FE (FOLLOW_EXIT)",
             0x14321, ByteSum(image_, image_.size()), crc_.c_str());
    EXPECT_EQ(WithoutDuration(lines.back()), summary);
}

TEST_F(RunRecord, EveryRoadAppendsOneRecordThatTellsHowItEnded)
{
    // A bit of block 1 that stays up where the image clears it.
    sim::ChipConfig stuck;
    stuck.Faults.HasStuckBits = true;
    stuck.Faults.StuckAddress = 0x11234;
    stuck.Faults.StuckMask = static_cast<uint8_t>(~image_[0x11234]);
    struct Case {
        std::vector<std::string> args;
        std::string ecModule;  // empty: the image's
        bool chip;
        int status;
        std::string summary;
        sim::ChipConfig chipConfig = {};
        size_t holding = 0;  // the image's bytes the chip holds before the run
        std::string tail = {};  // after /update's fields and its duration
        int32_t readFailAt = -1;
    } cases[] = {
        {{imageName_, "p", "x", "/j"}, "", true, EXIT_OK, " status=0 (OK) close=FC (FOLLOW_EXIT_ALT)"},
        {{imageName_}, "", true, EXIT_OK,
         " failed=0 duration=Nms image-crc32=" + crc_ + " station=\"\" module=\"TESTMOD\" status=0 (OK) close=FE "},
        // An EC name that tries to start a record line of its own; the image
        // was never read whole, its CRC all the same.
        {{imageName_}, "X\nZAR-END\x01status=0", true, EXIT_MODULE_MISMATCH,
         " image=\"logged.bin\" size=0 checksum=00F0 chip=none written=0 unchanged=0 failed=0 duration=Nms image-crc32=" +
             crc_ + " station=\"\" module=\"X\\x0AZAR-END\\x01status=0\" status=1 (MODULE_MISMATCH) close=none"},
        {{}, "", true, EXIT_OK,
         " image=none size=0 checksum=0000 chip=none written=0 unchanged=0 failed=0 duration=Nms image-crc32=none "
         "station=\"\" status=0 (OK) close=none"},
        {{"nothere.bin"}, "", true, EXIT_BAD_IMAGE, " image=\"nothere.bin\" ", {}, 0, " image-crc32=none "},
        {{imageName_, "p"}, "", false, EXIT_NO_ANSWER,
         " chip=absent id=FFFFFFFF written=0 unchanged=0 failed=0 duration=Nms image-crc32=" + crc_ +
             " station=\"\" status=4 (NO_ANSWER) close=none"},
        {{imageName_, "p"}, "", true, EXIT_FLASH_FAILED,
         " written=1 unchanged=0 failed=1 duration=Nms image-crc32=" + crc_ +
             " station=\"\" status=3 (FLASH_FAILED) close=none",
         stuck},
        {{imageName_, "p"}, "", true, EXIT_BAD_IMAGE, " image-crc32=unknown ", {}, 0, " status=2 ", 0x11000},
        {{"/update", imageName_, "p"}, "", true, EXIT_OK,
         " written=1 unchanged=1 failed=0 sectors-written=5 sectors-equal=16 sectors-kept=0 erase-64k=0 erase-4k=5 "
         "programmed=20480 duration=",  // the last sector whole: the image, then the chip's bytes written back
         {}, 0x10000, "ms image-crc32=" + crc_ + " station=\"\" status=0 (OK) close=FE (FOLLOW_EXIT)"},
    };
    std::string before;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        Rig rig(nullptr, {}, c.chipConfig);
        std::copy(image_.begin(), image_.begin() + c.holding, rig.Flash().begin());
        if (!c.ecModule.empty())
            rig.SetEcModule(c.ecModule);
        if (!c.chip)
            rig.DetachChip();
        std::vector<std::string> args = {"/log", log_};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SetReadFailOffset(c.readFailAt);
        EXPECT_EQ(rig.Run(args), c.status);
        SetReadFailOffset(-1);
        std::string log = Log();
        EXPECT_TRUE(log.starts_with(before)) << "an earlier record was changed";
        EXPECT_EQ(Lines(log.substr(before.size()), "ZAR-RUN ").size(), 1u);
        std::vector<std::string> ends = Lines(log.substr(before.size()), "ZAR-END ");
        ASSERT_EQ(ends.size(), 1u);
        std::string end = WithoutDuration(ends[0]);
        EXPECT_NE(end.find(c.summary), std::string::npos) << end;
        EXPECT_NE(end.find(c.tail), std::string::npos) << end;
        before = log;
    }
    EXPECT_NE(before.find("\r\n  Module is: X\r\n  ZAR-END?status=0"), std::string::npos);
}

// Whatever a verb does, its record names the right word as the image, and its
// summary agrees with the status the run returned and with what the EC got.
TEST_F(RunRecord, VerbRoadsRecordTheirStatusAndClosingCommand)
{
    struct Case {
        std::vector<std::string> args;
        std::string summary;
    } cases[] = {
        {{"/probe"}, " image=none size=0 checksum=0000 chip=\"W25X40\""},
        {{"/read", "copy.bin"}, " image=\"copy.bin\" size=524288 checksum="},
        {{"/update", imageName_, "p", "x", "/j"}, " image=\"logged.bin\" size=82721 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        unlink(log_.c_str());
        unlink("copy.bin");
        std::vector<std::string> args = {"/log", log_};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Rig rig;
        rig.StopTracing();
        int status = rig.Run(args);
        std::vector<std::string> ends = Lines(Log(), "ZAR-END ");
        ASSERT_EQ(ends.size(), 1u);
        EXPECT_NE(ends[0].find(c.summary), std::string::npos) << ends[0];
        EXPECT_NE(ends[0].find(" status=" + std::to_string(status) + " ("), std::string::npos) << ends[0];
        const char* close = rig.Ec().Mode() == sim::EcMode::ClosedExit      ? " close=FE (FOLLOW_EXIT)"
                            : rig.Ec().Mode() == sim::EcMode::ClosedExitAlt ? " close=FC (FOLLOW_EXIT_ALT)"
                                                                            : " close=none";
        EXPECT_TRUE(ends[0].ends_with(close)) << ends[0];
        if (c.args[0] == "/read") {
            char sum[32];
            snprintf(sum, sizeof sum, "checksum=%04X ", ByteSum(ReadFileBytes("copy.bin"), 524288));
            EXPECT_NE(ends[0].find(sum), std::string::npos) << ends[0];
        }
    }
}

TEST_F(RunRecord, ALogThatCantTakeTheRecordStopsTheRunBeforeTheEc)
{
    mkdir("logdir", 0755);
    std::vector<uint8_t> notALog = {'M', 'Z', 0x90, 0x00, 1, 2, 3, 4, 5};
    WriteTempFile("other.bin", notALog);
    unlink("dangling.log");
    ASSERT_EQ(symlink("nowhere.log", "dangling.log"), 0);
    for (std::string log :
         {"nodir/run.log", "logdir", "../../dev/full", "../../dev/null", "dangling.log", "other.bin", "logged.bin"}) {
        SCOPED_TRACE(log);
        Rig rig;
        EXPECT_EQ(rig.Run({"/log", log, imageName_, "p"}), EXIT_BAD_IMAGE);
        EXPECT_FALSE(rig.Trace().TouchedPorts());
        EXPECT_NE(rig.Output().find("LOG FILE ERROR!! " + log), std::string::npos) << rig.Output();
    }
    EXPECT_NE(access("nowhere.log", F_OK), 0) << "the link was followed";
    EXPECT_EQ(ReadFileBytes("other.bin"), notALog);
    EXPECT_EQ(ReadFileBytes(imageName_), image_) << "the image was appended to";
}

// At each write of the closing command's byte to the command port: is the
// record's summary on the disk, and does any descriptor of this process hold
// the log? Data bytes of the same value earlier in the run show that the
// test does see the log open.
class LogWatch : public MemoryTrace {
public:
    void Access(bool write, uint8_t port, uint8_t value) override
    {
        MemoryTrace::Access(write, port, value);
        if (write && port == EC_COMMAND_PORT && (value == EC_CMD_FOLLOW_EXIT || value == EC_CMD_FOLLOW_EXIT_ALT))
            seen.push_back({accesses.size() - 1, LogOpen(), ReadText(path_).find("\nZAR-END ") != std::string::npos});
    }
    struct Moment {
        size_t Access;
        bool Open, Summary;
    };
    std::vector<Moment> seen;

private:
    bool LogOpen() const
    {
        std::error_code error;
        for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd"))
            if (std::filesystem::read_symlink(fd.path(), error) == path_)
                return true;
        return false;
    }
    const std::string path_ = AbsolutePath("run.log");
};

TEST_F(RunRecord, TheRecordIsWrittenAndClosedBeforeTheClosingCommand)
{
    Rig rig;
    LogWatch watch;
    rig.Ec().SetTrace(&watch);
    ASSERT_EQ(rig.Run({"/log", log_, imageName_, "p", "x", "/j"}), EXIT_OK);
    rig.Ec().SetTrace(nullptr);

    ASSERT_GE(watch.seen.size(), 2u);
    EXPECT_TRUE(watch.seen.front().Open) << "the test can't see the log open";
    const LogWatch::Moment& closing = watch.seen.back();
    EXPECT_EQ(closing.Access, watch.accesses.size() - 2) << "the closing command is the last write";
    EXPECT_EQ(watch.accesses[closing.Access].Value, EC_CMD_FOLLOW_EXIT_ALT);
    EXPECT_FALSE(closing.Open);
    EXPECT_TRUE(closing.Summary);
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
    EXPECT_EQ(Lines(log, "ZAR-END").size(), 1u);
    EXPECT_NE(log.find(" status=0 (OK) close=FE (FOLLOW_EXIT)\r\n\r\n  NO ANSWER!! The EC input buffer wait ran out"),
              std::string::npos)
        << log;
    EXPECT_TRUE(log.ends_with("\r\nZAR-AFTER serial=unknown status=4 (NO_ANSWER)\r\n")) << log;
}

// Names with quotes, backslashes, line breaks and bytes that are not UTF-8
// read back exactly as given, and none of them breaks the record's lines.
TEST_F(RunRecord, HostileNamesReadBackExactly)
{
    MachineIdentity machine{"M\\", "P\"\\x22", "S\r\nZAR-END \xFF"};
    SetSimulatedMachine(&machine);
    for (std::string name : {"a\"b", "a\\x22b", "c\\", "d\re", "f\ng", "h\xFF\xC0i"}) {
        SCOPED_TRACE(name);
        unlink(log_.c_str());
        Rig rig;
        EXPECT_EQ(rig.Run({"/log", log_, name}), EXIT_BAD_IMAGE);  // no such image: the record all the same
        std::vector<std::string> lines = Lines(Log(), "ZAR-");
        ASSERT_EQ(lines.size(), 3u) << Log();
        std::map<std::string, std::string> run = Fields(lines[0]), end = Fields(lines[2]);
        EXPECT_EQ(end["image"], name);
        EXPECT_EQ(end["serial"], machine.SerialNumber);
        EXPECT_EQ(run["manufacturer"], machine.Manufacturer);
        EXPECT_EQ(run["product"], machine.ProductName);
        EXPECT_EQ(end["status"], "2");
    }
}

// A record cut short (here: the disk fills during the run) leaves its last
// line open. The run, whose EC was flashed, says so in its last lines and
// keeps its status; the next record starts on a line of its own.
TEST_F(RunRecord, ACutRecordIsSaidLastAndTheNextStartsOnItsOwnLine)
{
    Rig rig;
    rig.StopTracing();
    SetWriteFailAfter(1000);
    int status = rig.Run({"/log", log_, imageName_, "p"});
    SetWriteFailAfter(-1);
    EXPECT_EQ(status, EXIT_OK);
    EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::ClosedExit);
    EXPECT_TRUE(rig.Output().ends_with(
        "\r\nLOG FILE ERROR!! The record of this run could not be written to run.log.\r\nThe EC was written all the "
        "same: the run ends with the flashing's own status, 0, and only its record is missing or cut short in "
        "run.log.\r\n"))
        << rig.Output();
    std::string cut = Log();
    ASSERT_FALSE(cut.ends_with("\n"));

    Rig next;
    next.StopTracing();
    ASSERT_EQ(next.Run({"/log", log_, "/probe"}), EXIT_OK);
    std::string log = Log();
    EXPECT_EQ(log.substr(0, cut.size()), cut);
    EXPECT_EQ(log.substr(cut.size(), 10), "\r\nZAR-RUN ");
    EXPECT_EQ(Lines(log, "ZAR-RUN ").size(), 2u);
    EXPECT_EQ(Lines(log, "ZAR-END ").size(), 1u);
}

}  // namespace
}  // namespace zar::test
