// zar-records' reading of a log cut anywhere, and the summary's definitions:
// first-pass and final yield, placeholder serials, the stop rule's bound and
// the percentiles.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Harness.h"
#include "tools/zar-records/RecordFormat.h"
#include "tools/zar-records/Summary.h"

namespace zar::test {
namespace {

using records::Col;
using Runs = std::vector<records::Run>;

std::string Text(const std::vector<uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

// A log cut at any byte, as a power loss or a full disk leaves it: the
// records before the cut read as they did whole, the one it falls in is
// incomplete or left out, and nothing reads as finished that was not.
TEST(ZarRecords, ALogCutAtAnyByteKeepsWhatCameBefore)
{
    std::string log = TempPath("cut.log");
    unlink(log.c_str());
    std::string image = WriteTempFile("cut.bin", MakeImage(0x12345));
    for (const std::vector<std::string>& words : {std::vector<std::string>{"cut.bin", "p"}, {"/probe"},
                                                  {"/update", "cut.bin", "p", "x", "/j"}}) {
        Rig rig;
        rig.StopTracing();
        std::vector<std::string> args = {"/log", log};
        args.insert(args.end(), words.begin(), words.end());
        ASSERT_EQ(rig.Run(args), 0);
    }
    std::string whole = Text(ReadFileBytes(log));
    records::LogReading all = records::ReadLog("cut.log", whole);
    ASSERT_EQ(all.Runs.size(), 3u);
    ASSERT_TRUE(all.Warnings.empty()) << all.Warnings[0];
    std::vector<size_t> ends;  // where each record's summary line ends
    for (size_t at = 0; (at = whole.find("\nZAR-END ", at)) != std::string::npos; ++at)
        ends.push_back(whole.find("\r\n", at + 1) + 2);
    ASSERT_EQ(ends.size(), 3u);
    // Shorter than "ZAR-RUN ", it is no log (nor to the flasher, which will
    // not append to it).
    for (size_t cut = 8; cut < whole.size(); ++cut) {
        records::LogReading part = records::ReadLog("cut.log", whole.substr(0, cut));
        ASSERT_TRUE(part.IsLog);
        size_t before = static_cast<size_t>(std::count_if(ends.begin(), ends.end(), [&](size_t end) { return end <= cut; }));
        ASSERT_GE(part.Runs.size(), before) << "cut at " << cut;
        ASSERT_LE(part.Runs.size(), before + 1) << "cut at " << cut;
        for (size_t i = 0; i < before; ++i)
            ASSERT_EQ(part.Runs[i].Values, all.Runs[i].Values) << "cut at " << cut;
        if (part.Runs.size() > before) {
            ASSERT_EQ(part.Runs.back().Number(Col::Complete), 0) << "cut at " << cut;
        }
    }
}

records::Run Made(const std::string& serial, const std::string& status, const std::string& station = "S1",
         int64_t durationMs = 1000, bool complete = true)
{
    records::Run run;
    run[Col::Verb].Text = "flash";
    run[Col::Serial].Text = serial;
    run[Col::Station].Text = station;
    run[Col::Complete].Integer = complete ? 1 : 0;
    if (complete) {
        run[Col::Status].Text = status;
        run[Col::DurationMs].Integer = durationMs;
    }
    return run;
}

// A machine counts once: its first flashing run for the first pass, its last
// for the final yield. Serials that say nothing are never one machine.
TEST(ZarRecords, YieldsCountEachMachineOnceAndNeverMergePlaceholders)
{
    Runs runs = {
        Made("SN-A", "OK"),
        Made("SN-B", "FLASH_FAILED"),
        Made("SN-B", "OK"),
        Made("SN-C", "", "S1", 0, false),  // cut short
        Made("SN-C", "NO_ANSWER"),
        Made("SN-D", "OK"),
        Made("SN-D", "FLASH_FAILED"),
        Made("", "OK"),
        Made("To be filled by O.E.M.", "OK"),
        Made("00000000", "NO_ANSWER"),
        Made(" Default string ", "OK"),
    };
    runs.push_back(Made("SN-E", "OK"));
    runs.back()[Col::Verb].Text = "verify";  // not a flashing run
    records::Summary summary = records::Summarise(runs, {});
    ASSERT_EQ(summary.Machines.size(), 4u);
    EXPECT_EQ(summary.FirstPassOk, 2);  // SN-A, SN-D
    EXPECT_EQ(summary.FinalOk, 2);      // SN-A, SN-B
    EXPECT_EQ(summary.Placeholder.Runs, 4);
    EXPECT_EQ(summary.Placeholder.Ok, 3);
    EXPECT_EQ(summary.Machines[2].FirstStatus, "INCOMPLETE");
    EXPECT_EQ(summary.Incomplete.size(), 1u);
    for (const char* real : {"PF3ABC12", "0A", "unknown-7"})
        EXPECT_FALSE(records::IsPlaceholderSerial(real)) << real;
}

// Among a station's last N flashing runs, the line stops when failures pass
// PERCENT of N: at the bound it does not, one more and it does; a station
// that has made fewer runs is held to the same count.
TEST(ZarRecords, TheStopRuleCountsAStationsLastRunsAgainstTheWholeWindow)
{
    Runs runs;
    for (int i = 0; i < 30; ++i)
        runs.push_back(Made("S1-" + std::to_string(i), i < 10 ? "NO_ANSWER" : "OK", "S1"));
    runs.push_back(Made("S2-0", "FLASH_FAILED", "S2"));
    runs.push_back(Made("S2-1", "", "S2", 0, false));
    EXPECT_TRUE(records::Summarise(runs, {20, 10}).Stops.empty()) << "S1's failures are older than its window";
    runs.push_back(Made("S1-late", "MODULE_MISMATCH", "S1"));
    runs.push_back(Made("S1-later", "BAD_IMAGE", "S1"));
    EXPECT_TRUE(records::Summarise(runs, {20, 10}).Stops.empty()) << "2 of 20 is 10 %, not more";
    runs.push_back(Made("S2-2", "OK", "S2"));
    runs.push_back(Made("S1-last", "NO_ANSWER", "S1"));
    std::vector<records::StopAlarm> stops = records::Summarise(runs, {20, 10}).Stops;
    ASSERT_EQ(stops.size(), 1u);
    EXPECT_EQ(stops[0].Station, "S1");
    EXPECT_EQ(stops[0].Failures, 3);
    EXPECT_EQ(stops[0].Runs, 20);
    stops = records::Summarise(runs, {3, 50}).Stops;
    ASSERT_EQ(stops.size(), 2u) << "S2: its cut run and its failure, 2 of 3";
}

TEST(ZarRecords, DurationsAreOfOkFlashingRunsByNearestRank)
{
    Runs runs;
    for (int i = 20; i >= 1; --i)
        runs.push_back(Made("M" + std::to_string(i), "OK", "S1", i * 1000));
    runs.push_back(Made("X", "FLASH_FAILED", "S1", 999000));
    runs.push_back(Made("Y", "OK", "S1", 0));
    runs.back()[Col::DurationMs].Integer.reset();  // duration=unknown
    records::Summary summary = records::Summarise(runs, {});
    EXPECT_EQ(summary.Durations, 20);
    EXPECT_EQ(summary.MedianMs, 10000);
    EXPECT_EQ(summary.P95Ms, 19000);
}

}  // namespace
}  // namespace zar::test
