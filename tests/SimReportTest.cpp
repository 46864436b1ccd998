// zar-sim for engineers: real timing against the catalog's times, the flash
// comparison of the report, and the options that set timing up.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Applications/Main/Main.h"
#include "Harness.h"
#include "platform/Faults.h"
#include "platform/hosted/HostConsole.h"
#include "tools/zar-sim/SimFrontEnd.h"
#include "tools/zar-sim/SimReport.h"

namespace zar::test {
namespace {

constexpr uint32_t ACCESS_NS = 1000;

sim::EcConfig RealEc()
{
    sim::EcConfig ec;
    ec.AccessNs = ACCESS_NS;
    ec.IbfDelay = ec.ObfDelay = {sim::ReadDelay::Fixed, 2, 1};  // a 2 us EC on a 1 us bus
    return ec;
}

// ---- Real timing ------------------------------------------------------------

TEST(RealTiming, A128KiBImageTakesTheBusAccessesPlusTheCatalogsTimes)
{
    const sim::ChipInfo& part = *sim::FindChip("W25X40");
    std::vector<uint8_t> image = MakeImage(0x20000);
    std::string name = WriteTempFile("timed.bin", image);

    sim::ChipConfig real;
    real.RealTiming = true;
    Rig timed(&part, RealEc(), real);
    timed.StopTracing();
    ASSERT_EQ(timed.Run({name, "p"}), EXIT_OK) << timed.Output();

    // The same run with a chip that is never busy: the traffic the protocol
    // needs without any waiting for the chip.
    sim::ChipConfig idle;
    idle.Busy = {};
    Rig quick(&part, RealEc(), idle);
    quick.StopTracing();
    ASSERT_EQ(quick.Run({name, "p"}), EXIT_OK);

    // Two blocks: one status write each (unprotect), 16 erase steps each,
    // 256 page programs each.
    const sim::SpiNorChip::Counters& work = timed.Chip().Stats();
    ASSERT_EQ(work.Erases, 32u);
    ASSERT_EQ(work.Programs, 512u);
    ASSERT_EQ(work.StatusWrites, 2u);
    // The W25X40's typical times: 4 KiB erase 150 ms, page 1.5 ms, status
    // write 10 ms.
    const uint64_t busyNs = 32 * 150'000'000ull + 512 * 1'500'000ull + 2 * 10'000'000ull;
    EXPECT_EQ(work.BusyNs, busyNs);

    sim::TimeEstimate t = sim::EstimateTime(timed.Ec(), timed.Chip());
    EXPECT_EQ(t.TotalNs, timed.Ec().Stats().Accesses * ACCESS_NS);
    EXPECT_EQ(t.ChipBusyNs, busyNs);
    EXPECT_EQ(t.BusIdleNs + t.ChipBusyNs, t.TotalNs);

    // Busy time replaces polls: per operation the two runs differ by at most
    // the RDSR set-up that overlaps the busy time and the poll in flight when
    // it ends (about 30 accesses at this latency).
    int64_t expected = static_cast<int64_t>(quick.Ec().Stats().Accesses * ACCESS_NS + busyNs);
    int64_t slack = static_cast<int64_t>((32 + 512 + 2) * 32 * ACCESS_NS);
    EXPECT_NEAR(static_cast<double>(t.TotalNs), static_cast<double>(expected), static_cast<double>(slack));
    EXPECT_EQ(timed.Flash(), quick.Flash());
}

// ---- The front end in-process -----------------------------------------------

struct SimRun {
    int status;
    std::string output;
};

SimRun RunSim(std::vector<std::string> args)
{
    args.insert(args.begin(), "zar-sim");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    hosted::ScopedCapture capture;
    int status = sim::SimMain(static_cast<int>(args.size()), argv.data());
    return {status, capture.Output()};
}

std::string Seconds(uint64_t ns)
{
    char text[32];
    snprintf(text, sizeof text, "%llu.%03llu s", static_cast<unsigned long long>(ns / 1000000000),
             static_cast<unsigned long long>(ns % 1000000000 / 1000000));
    return text;
}

TEST(SimReport, StatesTheTimeOfARealRunAndWhatTheRunDid)
{
    // The default part, W25X40: 32 erases at 150 ms, 512 pages at 1.5 ms and
    // 2 status writes at 10 ms are 5.588 s.
    std::vector<uint8_t> image = MakeImage(0x20000, "REPMOD ");
    std::string name = WriteTempFile("report.bin", image);
    SimRun run = RunSim({"--timing", "real", "--report", name});
    ASSERT_EQ(run.status, EXIT_OK) << run.output;

    EXPECT_NE(run.output.find("chip busy 5.588 s: 32 erases, 512 programs, 2 status writes"),
              std::string::npos)
        << run.output;
    // The total is the accesses at 1 us each.
    size_t at = run.output.find("time on the hardware: ");
    ASSERT_NE(at, std::string::npos);
    unsigned long long accesses = 0;
    char total[32] = {};
    ASSERT_EQ(sscanf(run.output.c_str() + at, "time on the hardware: %31[0-9.] s (%llu port accesses x 1000 ns)",
                     total, &accesses),
              2);
    EXPECT_EQ(Seconds(accesses * 1000), std::string(total) + " s");

    EXPECT_NE(run.output.find("EC              closed with 0xFE"), std::string::npos);
    EXPECT_NE(run.output.find("flash           equals the image over its 131072 bytes"), std::string::npos);
    EXPECT_NE(run.output.find("exit status     0: flashed and verified"), std::string::npos);
}

TEST(SimReport, EstimatesTheHardwaresTimeOfAFastRun)
{
    std::string name = WriteTempFile("fast-report.bin", MakeImage(0x20000, "REPMOD "));
    SimRun run = RunSim({"--report", name});
    ASSERT_EQ(run.status, EXIT_OK) << run.output;
    size_t at = run.output.find("time, estimate  ");
    ASSERT_NE(at, std::string::npos) << run.output;
    EXPECT_NE(run.output.find("an EC without latency): chip busy 5.588 s, bus ", at), std::string::npos)
        << run.output;
}

TEST(SimReport, SaysWhatAFailedOrEmptyRunMeans)
{
    std::vector<uint8_t> image = MakeImage(0x8000, "REPMOD ");
    std::string name = WriteTempFile("other.bin", image);

    SimRun mismatch = RunSim({"--report", "--ec-module", "OTHER", name});
    EXPECT_EQ(mismatch.status, EXIT_MODULE_MISMATCH);
    EXPECT_NE(mismatch.output.find("EC              left in normal mode"), std::string::npos) << mismatch.output;
    EXPECT_NE(mismatch.output.find("flash           differs from the image: first at 0x000000"), std::string::npos);
    EXPECT_NE(mismatch.output.find("exit status     1: module mismatch"), std::string::npos);

    SimRun dead = RunSim({"--report", "--wait-limit", "100", "--fault", "ec-obf-never=40", name, "p"});
    EXPECT_EQ(dead.status, EXIT_NO_ANSWER);
    EXPECT_NE(dead.output.find("EC              left in follow mode"), std::string::npos) << dead.output;
    EXPECT_NE(dead.output.find("exit status     4: no answer"), std::string::npos);

    SimRun usage = RunSim({"--report"});
    EXPECT_EQ(usage.status, EXIT_OK);
    EXPECT_NE(usage.output.find("flash           not compared: no image"), std::string::npos) << usage.output;
    EXPECT_NE(usage.output.find("exit status     0: nothing flashed"), std::string::npos);
}

// ---- The flash against the image --------------------------------------------

TEST(FlashComparison, EqualDifferingAndWrappedImages)
{
    std::vector<uint8_t> flash(0x10000);
    for (size_t i = 0; i < flash.size(); ++i)
        flash[i] = static_cast<uint8_t>(i * 7);
    std::vector<uint8_t> image(flash.begin(), flash.begin() + 0x9001);
    auto compare = [&](const std::vector<uint8_t>& bytes) {
        return sim::CompareWithImage(flash.data(), static_cast<uint32_t>(flash.size()),
                                     WriteTempFile("cmp.bin", bytes).c_str());
    };

    sim::FlashComparison same = compare(image);
    EXPECT_EQ(same.Result, sim::FlashComparison::Equal);
    EXPECT_EQ(same.Compared, 0x9001u);
    EXPECT_FALSE(same.Wrapped);

    image[0x9000] ^= 0x10;  // the last byte
    sim::FlashComparison last = compare(image);
    EXPECT_EQ(last.Result, sim::FlashComparison::Differs);
    EXPECT_EQ(last.Address, 0x9000u);
    EXPECT_EQ(last.Chip, flash[0x9000]);
    EXPECT_EQ(last.Image, flash[0x9000] ^ 0x10);

    // 1.5 times the chip, its last 0x8000 bytes written over addresses
    // 0-0x7FFF: the chip holds the last pass, not the image.
    std::vector<uint8_t> wrapped(0x18000);
    for (size_t i = 0; i < wrapped.size(); ++i)
        wrapped[i] = static_cast<uint8_t>(i < 0x10000 ? 0x55 : flash[i - 0x10000]);
    for (size_t i = 0x8000; i < 0x10000; ++i)
        wrapped[i] = flash[i];
    sim::FlashComparison folded = compare(wrapped);
    EXPECT_EQ(folded.Result, sim::FlashComparison::Differs);
    EXPECT_EQ(folded.Address, 0u);
    EXPECT_TRUE(folded.Wrapped);
    EXPECT_EQ(folded.Compared, 0x10000u);
    // Even where the part that fits is equal, the report says the rest is
    // in no chip.
    std::copy(flash.begin(), flash.end(), wrapped.begin());
    sim::FlashComparison fits = compare(wrapped);
    EXPECT_EQ(fits.Result, sim::FlashComparison::Equal);
    EXPECT_TRUE(fits.Wrapped);
    hosted::CaptureConsole console;
    hosted::SetConsoleSink(&console);
    sim::PrintFlashComparison(fits, 0x10000);
    hosted::SetConsoleSink(nullptr);
    EXPECT_EQ(console.output, "holds the image's first 65536 bytes only\r\n                the image (98304 bytes) "
                              "does not fit in the chip's 65536 bytes: its later bytes went to wrapped addresses and "
                              "overwrote earlier ones\r\n");

    EXPECT_EQ(compare({}).Result, sim::FlashComparison::Empty);
    EXPECT_EQ(sim::CompareWithImage(flash.data(), 0x10000, "no-such-file.bin").Result,
              sim::FlashComparison::Unreadable);
    EXPECT_EQ(sim::CompareWithImage(flash.data(), 0x10000, nullptr).Result, sim::FlashComparison::NoImage);
}

// ---- Options ------------------------------------------------------------------

bool Parse(std::vector<std::string> args, sim::SimOptions* options, std::string* said = nullptr)
{
    args.insert(args.begin(), "zar-sim");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    hosted::ScopedCapture capture;
    *options = sim::SimOptions{};
    bool ok = sim::ParseSimOptions(static_cast<int>(argv.size()), argv.data(), options);
    if (said)
        *said = capture.Output();
    return ok;
}

TEST(TimingOptions, RealTimingTurnsTheEcResponseIntoStatusReads)
{
    struct Case {
        std::vector<std::string> args;
        uint32_t accessNs;
        sim::ReadDelay::Kind kind;
        uint32_t reads;
    } cases[] = {
        {{"--timing", "real"}, 1000, sim::ReadDelay::Fixed, 2},
        {{"--timing", "real", "--access-ns", "300"}, 300, sim::ReadDelay::Fixed, 7},  // 2000/300 rounded up
        {{"--timing", "real", "--access-ns", "500", "--ec-response-ns", "1000"}, 500, sim::ReadDelay::Fixed, 2},
        {{"--timing", "real", "--ec-response-ns", "1"}, 1000, sim::ReadDelay::Fixed, 1},
        {{"--timing", "real", "--ec-response-ns", "0"}, 1000, sim::ReadDelay::Zero, 0},
        {{"--ec-latency", "fixed:5", "--timing", "real"}, 1000, sim::ReadDelay::Fixed, 5},  // given wins
        {{"--timing", "fast"}, 0, sim::ReadDelay::Zero, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        sim::SimOptions o;
        ASSERT_TRUE(Parse(c.args, &o));
        EXPECT_EQ(o.Ec.AccessNs, c.accessNs);
        EXPECT_EQ(o.Ec.IbfDelay.Mode, c.kind);
        EXPECT_EQ(o.Ec.IbfDelay.Count, c.reads);
        EXPECT_EQ(o.Ec.ObfDelay.Count, c.reads);
        EXPECT_EQ(o.ChipSetup.RealTiming, c.accessNs != 0);
    }
}

TEST(TimingOptions, RefusesWhatDoesNotGoTogether)
{
    const std::vector<std::vector<std::string>> refused = {
        {"--access-ns", "500"},                          // needs real timing
        {"--timing", "real", "--access-ns", "0"},        // the clock must move
        {"--timing", "real", "--chip-busy", "fixed:3"},  // the part's own times apply
        {"--timing", "slow"},
        {"--chip-size", "100000"},    // not a power of two
        {"--chip-size", "0x8000"},    // below one block
        {"--chip-size", "0x2000000"}, // past 24-bit addresses
        {"--decode", "t.txt", "img.bin"},
        {"--timing", "real", "--ec-response-ns", "1000001"},  // slower than any EC: hours of status reads
        {"--timing", "real", "--access-ns", "99"},           // faster than any bus
        {"--timing", "real", "--access-ns", "1000000001"},
    };
    for (const auto& args : refused) {
        SCOPED_TRACE(::testing::PrintToString(args));
        sim::SimOptions o;
        std::string said;
        EXPECT_FALSE(Parse(args, &o, &said));
        EXPECT_NE(said.find("zar-sim: "), std::string::npos);
    }
    sim::SimOptions o;
    ASSERT_TRUE(Parse({"--chip-size", "0x1000000", "img.bin"}, &o));
    EXPECT_EQ(o.ChipSize, 0x1000000u);
    ASSERT_TRUE(Parse({"--timing", "real", "--access-ns", "100", "--ec-response-ns", "1000000"}, &o));
    EXPECT_EQ(o.Ec.IbfDelay.Count, 10000u);
}

// ---- Inputs at their limits ------------------------------------------------------

TEST(SimInputs, DelaysOverTheWholeRangeEndInABoundedWait)
{
    std::string name = WriteTempFile("delays.bin", MakeImage(0x1000));
    for (const char* option : {"--ec-latency", "--chip-busy"}) {
        SCOPED_TRACE(option);
        SimRun run = RunSim({option, "random:4294967295:3", "--wait-limit", "100", name, "p"});
        EXPECT_EQ(run.status, EXIT_NO_ANSWER) << run.output;
        EXPECT_NE(run.output.find("NO ANSWER!!"), std::string::npos);
    }
}

TEST(SimInputs, ADecodeThatCannotReadItsTraceToTheEndFails)
{
    std::string name = WriteTempFile("decoded.bin", MakeImage(0x1000));
    ASSERT_EQ(RunSim({"--trace", "decoded.trace", name, "p"}).status, EXIT_OK);
    SetReadFailOffset(1000);
    SimRun run = RunSim({"--decode", "decoded.trace", "--spi-log", "decoded.log"});
    SetReadFailOffset(-1);
    EXPECT_EQ(run.status, sim::EXIT_USAGE);
    EXPECT_NE(run.output.find("reading decoded.trace failed after 1000 bytes: the decode is incomplete"),
              std::string::npos)
        << run.output;
}

}  // namespace
}  // namespace zar::test
