// The firmware around a run, as the hosted build stands in for it: every
// port access of an SPI transaction or of an EC command with its data comes
// inside an Uninterrupted scope, nothing else happens there, no scope lasts
// longer than a block's transfer; the watchdog is off before follow mode;
// Ctrl-C stops a run before follow mode and is ignored after.
#include <gtest/gtest.h>
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Applications/Main/Main.h"
#include "Applications/Main/UserBreak.h"
#include "Harness.h"
#include "ec/EcChannel.h"
#include "platform/Uninterrupted.h"
#include "platform/hosted/HostFirmware.h"

namespace zar::test {
namespace {

// Follows the port traffic as the EC sees it. Open: an SPI transaction, from
// FOLLOW_START to FOLLOW_END in follow mode (FOLLOW_OPCODE and FOLLOW_WRITE
// take the next command byte as theirs); an EC command with data, from its
// command byte to the data read that answers it.
class FirmwareWatch : public sim::TraceSink {
public:
    void Access(bool write, uint8_t port, uint8_t value) override
    {
        bool held = gUninterruptedDepth != 0;
        bool part = Open() || Opens(write, port, value);
        bool press = write && port == EC_COMMAND_PORT && value == pressCtrlCAt && follow_ && !argument_;
        Follow(write, port, value);
        if (part && !held)
            ++unguarded;
        if (held) {
            if (gUninterruptedHolds != hold_) {
                hold_ = gUninterruptedHolds;
                span_ = 0;
            }
            longestSpan = std::max(longestSpan, ++span_);
        }
        if (press)
            hosted::PressCtrlC();
    }

    uint32_t unguarded = 0;           // accesses of an open unit made outside every scope
    uint32_t longestSpan = 0;         // accesses inside one outermost scope
    bool enteredWithWatchdog = false;  // follow-mode entry came before the watchdog went off
    bool entered = false;
    int pressCtrlCAt = -1;            // a follow-mode command byte at which Ctrl-C is pressed

private:
    bool Open() const { return spi_ || command_; }
    bool Opens(bool write, uint8_t port, uint8_t value) const
    {
        if (!write || port != EC_COMMAND_PORT || argument_)
            return false;
        return follow_ ? value == FOLLOW_START : value == EC_CMD_READ_MEMORY || value == EC_CMD_FOLLOW_ENTER;
    }
    void Follow(bool write, uint8_t port, uint8_t value)
    {
        if (!write) {
            if (port == EC_DATA_PORT)
                command_ = false;
            return;
        }
        if (port != EC_COMMAND_PORT)
            return;
        if (argument_) {
            argument_ = false;
        } else if (!follow_) {
            command_ = value == EC_CMD_READ_MEMORY || value == EC_CMD_FOLLOW_ENTER;
            if (value == EC_CMD_FOLLOW_ENTER) {
                follow_ = entered = true;
                enteredWithWatchdog = enteredWithWatchdog || hosted::WatchdogDisables() == 0;
            }
        } else if (value == FOLLOW_START || value == FOLLOW_END) {
            spi_ = value == FOLLOW_START;
        } else if (value == FOLLOW_OPCODE || value == FOLLOW_WRITE) {
            argument_ = true;
        } else if (value == EC_CMD_FOLLOW_EXIT || value == EC_CMD_FOLLOW_EXIT_ALT) {
            follow_ = false;
        }
    }

    bool follow_ = false, argument_ = false, spi_ = false, command_ = false;
    uint32_t hold_ = 0, span_ = 0;
};

// One FAST_READ of a 64 KiB block, five accesses a byte, and room for the
// waits around it: no scope may hold the firmware off longer.
constexpr uint32_t BLOCK_TRANSFER = 6 * 0x10000;

struct Watched {
    int status;
    std::string output;
    FirmwareWatch watch;
    uint32_t heldServiceCalls;
};

Watched RunWatched(Rig& rig, const std::vector<std::string>& args, int pressCtrlCAt = -1)
{
    Watched run{};
    run.watch.pressCtrlCAt = pressCtrlCAt;
    hosted::ResetFirmware();
    rig.Ec().SetTrace(&run.watch);
    run.status = rig.Run(args);
    run.output = rig.Output();
    run.heldServiceCalls = hosted::ServiceCallsWhileUninterrupted();
    return run;
}

void ExpectUninterrupted(const Watched& run)
{
    EXPECT_TRUE(run.watch.entered);
    EXPECT_EQ(run.watch.unguarded, 0u);
    EXPECT_GT(run.watch.longestSpan, 0u);
    EXPECT_LE(run.watch.longestSpan, BLOCK_TRANSFER);
    EXPECT_EQ(run.heldServiceCalls, 0u) << "a console, file, clock or heap call inside an Uninterrupted scope";
    EXPECT_FALSE(run.watch.enteredWithWatchdog);
}

std::string ReadLog(const char* name)
{
    std::vector<uint8_t> bytes = ReadFileBytes(name);
    return std::string(bytes.begin(), bytes.end());
}

const char* const IGNORED = "\r\nCtrl-C is ignored while the EC is in follow mode: the run goes on to its end.\r\n";
const char* const STOPPED =
    "\r\nSTOPPED!! Ctrl-C was pressed before follow mode: nothing was written and the EC is as it was.\r\n";

// A whole run of each programming kind, with its record on: the console
// text goes into the record's file as it is printed, so a Print inside a
// transaction would touch a file too.
TEST(Uninterrupted, EveryProgrammingKindKeepsItsTransactionsWhole)
{
    for (const char* part : {"W25X40", "MX25L512", "SST25LF040A", "SST25VF080B"}) {
        const sim::ChipInfo* chip = sim::FindChip(part);
        ASSERT_NE(chip, nullptr);
        SCOPED_TRACE(part);
        std::vector<uint8_t> image = MakeImage(chip->Part->Size > 0x20000 ? 0x14321 : 0x4321);
        std::string name = WriteTempFile("kind.bin", image);
        remove("kind.log");
        Rig rig(chip);
        Watched run = RunWatched(rig, {"/log", "kind.log", name, "p"});
        ASSERT_EQ(run.status, EXIT_OK) << run.output;
        EXPECT_TRUE(std::equal(image.begin(), image.end(), rig.Flash().begin()));
        ExpectUninterrupted(run);
        EXPECT_NE(ReadLog("kind.log").find("Programing...    : "), std::string::npos);
    }
}

// The verbs too, each transaction no longer than a block: /read reads the
// whole chip, a FAST_READ for each block.
TEST(Uninterrupted, EveryVerbKeepsItsTransactionsWholeAndShort)
{
    std::vector<uint8_t> image = MakeImage(0x24321);
    std::string name = WriteTempFile("verbs.bin", image);
    std::vector<std::vector<std::string>> lines = {
        {"/probe"}, {"/read", "verbs-read.bin"}, {"/verify", name, "p"}, {"/update", name, "p"}, {name}};
    for (const std::vector<std::string>& line : lines) {
        SCOPED_TRACE(line[0]);
        remove("verbs-read.bin");
        Rig rig;
        Watched run = RunWatched(rig, line);
        bool differs = line[0] == "/verify";  // the chip holds its fill pattern, not the image
        EXPECT_EQ(run.status, differs ? EXIT_FLASH_FAILED : EXIT_OK) << run.output;
        ExpectUninterrupted(run);
    }
}

// Before follow mode a Ctrl-C ends every road: status 1 (EFI_ABORTED), no
// follow-mode entry, nothing written, no file of /read's left behind, and
// the record names it.
TEST(CtrlC, BeforeFollowModeStopsEveryRoadWithNothingWritten)
{
    std::vector<uint8_t> image = MakeImage(0x14321);
    std::string name = WriteTempFile("stop.bin", image);
    std::vector<std::vector<std::string>> lines = {{"/probe"},
                                                   {"/read", "stop-read.bin"},
                                                   {"/verify", name, "p"},
                                                   {"/update", name, "p"},
                                                   {"/log", "stop.log", name}};
    for (const std::vector<std::string>& line : lines) {
        SCOPED_TRACE(line[0]);
        remove("stop.log");
        remove("stop-read.bin");
        Rig rig;
        std::vector<uint8_t> before = rig.Flash();
        hosted::ResetFirmware();
        hosted::PressCtrlC();
        EXPECT_EQ(rig.Run(line), EXIT_STOPPED) << rig.Output();
        EXPECT_EQ(CountOf(rig.Output(), STOPPED), 1u) << rig.Output();
        EXPECT_EQ(rig.Trace().CommandStream().find("DC"), std::string::npos);
        EXPECT_EQ(rig.Flash(), before);
        EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::Normal);
        EXPECT_EQ(hosted::WatchdogDisables(), 0u);
        EXPECT_TRUE(ReadFileBytes("stop-read.bin").empty());
    }
    EXPECT_NE(ReadLog("stop.log").find("status=1 (STOPPED)"), std::string::npos) << ReadLog("stop.log");
}

// After follow mode a Ctrl-C changes nothing but one line: pressed again and
// again through the blocks, or once with the closing command (after the last
// safe point of the blocks), it is taken, so the Shell's script runner never
// sees it, and the run ends as it would have.
TEST(CtrlC, InFollowModeIsTakenAndIgnoredOnce)
{
    std::vector<uint8_t> image = MakeImage(0x34321);
    std::string name = WriteTempFile("ignore.bin", image);
    struct Case {
        const char* what;
        std::vector<std::string> line;
        int pressAt;  // a follow-mode command byte
    } cases[] = {
        {"classic, at every SPI command", {name, "p"}, FOLLOW_OPCODE},
        {"classic, at the closing command", {name}, EC_CMD_FOLLOW_EXIT},
        {"/read, at every SPI command", {"/read", "ignore-read.bin"}, FOLLOW_OPCODE},
        {"/update, at every SPI command", {"/update", name, "p"}, FOLLOW_OPCODE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        remove("ignore-read.bin");
        Rig rig;
        Watched run = RunWatched(rig, c.line, c.pressAt);
        EXPECT_EQ(run.status, EXIT_OK) << run.output;
        EXPECT_EQ(CountOf(run.output, IGNORED), 1u) << run.output;
        EXPECT_FALSE(hosted::CtrlCPending());
        EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::ClosedExit);
        if (c.line[0] != "/read") {
            EXPECT_TRUE(std::equal(image.begin(), image.end(), rig.Flash().begin()));
        }
    }
}

}  // namespace
}  // namespace zar::test
