// The line's figures from its runs: machines, first-pass and final yield,
// statuses, yield by chip, image, station and hour, durations, runs cut
// short, and the stop rule (docs/factory.md defines each).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/zar-records/Runs.h"

namespace zar::records {

// How many of some flashing runs ended OK.
struct Tally {
    int Runs = 0;
    int Ok = 0;
    int Incomplete = 0;
    int Failed() const { return Runs - Ok; }
    void Add(const Run& run);
};

struct Group {
    std::string Name;
    Tally Counts;
};

// One machine, by its serial: its first and its last flashing run.
struct Machine {
    std::string Serial;
    int Runs = 0;
    std::string FirstStatus;
    std::string FinalStatus;
    std::string Station;  // of its last flashing run
};

// Among the last Window flashing runs of a station, more than Percent of
// Window failed: the line should stop and look.
struct StopRule {
    int Window = 20;
    int Percent = 10;
};
struct StopAlarm {
    std::string Station;
    int Failures = 0;
    int Runs = 0;  // in the window: Window, or fewer when the station has made fewer
};

struct Summary {
    int Runs = 0;
    int FlashingRuns = 0;
    std::vector<Machine> Machines;  // real serials only, in the order first flashed
    int FirstPassOk = 0;
    int FinalOk = 0;
    Tally Placeholder;  // flashing runs whose serial says nothing: never merged
    std::vector<std::pair<std::string, int>> Statuses;  // every run's, the most frequent first
    std::vector<Group> ByChip, ByImage, ByStation, ByHour;
    int Durations = 0;  // flashing runs that ended OK with a duration
    std::optional<int64_t> MedianMs, P95Ms;
    std::vector<const Run*> Incomplete;
    std::vector<StopAlarm> Stops;
};

// runs in time order, as RunsDatabase::LoadAll gives them; the summary
// points into them.
Summary Summarise(const std::vector<Run>& runs, const StopRule& rule);

// Empty, the flasher's "unknown", and what firmware writes when nobody filled
// it in ("To be filled by O.E.M.", "Default string", all one character...).
bool IsPlaceholderSerial(const std::string& serial);

// The status name a run ended with, INCOMPLETE for a record cut short.
std::string StatusOf(const Run& run);

// How a group names a run: its chip, its image with the CRC-32, its station.
std::string ChipLabel(const Run& run);
std::string ImageLabel(const Run& run);
std::string StationLabel(const Run& run);

}  // namespace zar::records
