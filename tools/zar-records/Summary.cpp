#include "tools/zar-records/Summary.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace zar::records {
namespace {

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Trimmed(const std::string& text)
{
    size_t first = text.find_first_not_of(" \t");
    size_t last = text.find_last_not_of(" \t");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// Groups in the order their first run came, each with its tally.
class Grouping {
public:
    void Add(const std::string& name, const Run& run)
    {
        auto [found, added] = index_.try_emplace(name, groups_.size());
        if (added)
            groups_.push_back({name, {}});
        groups_[found->second].Counts.Add(run);
    }
    std::vector<Group> Take() { return std::move(groups_); }

private:
    std::map<std::string, size_t> index_;
    std::vector<Group> groups_;
};

// The nearest-rank percentile of sorted values: the smallest value with at
// least percent of them at or below it.
int64_t Percentile(const std::vector<int64_t>& sorted, int percent)
{
    size_t rank = (sorted.size() * static_cast<size_t>(percent) + 99) / 100;
    return sorted[rank == 0 ? 0 : rank - 1];
}

void CountStatuses(const std::vector<Run>& runs, Summary* summary)
{
    std::map<std::string, int> counts;
    for (const Run& run : runs)
        ++counts[StatusOf(run)];
    summary->Statuses.assign(counts.begin(), counts.end());
    std::stable_sort(summary->Statuses.begin(), summary->Statuses.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
}

// First pass: a machine's first flashing run ended OK; final: its last one.
void FollowMachines(const std::vector<const Run*>& flashing, Summary* summary)
{
    std::map<std::string, size_t> index;
    for (const Run* run : flashing) {
        std::string serial = run->Text(Col::Serial);
        if (IsPlaceholderSerial(serial)) {
            summary->Placeholder.Add(*run);
            continue;
        }
        auto [found, added] = index.try_emplace(serial, summary->Machines.size());
        if (added)
            summary->Machines.push_back({serial, 0, StatusOf(*run), "", ""});
        Machine& machine = summary->Machines[found->second];
        ++machine.Runs;
        machine.FinalStatus = StatusOf(*run);
        machine.Station = StationLabel(*run);
    }
    for (const Machine& machine : summary->Machines) {
        summary->FirstPassOk += machine.FirstStatus == "OK";
        summary->FinalOk += machine.FinalStatus == "OK";
    }
}

void GroupRuns(const std::vector<const Run*>& flashing, Summary* summary)
{
    Grouping chips, images, stations, hours;
    for (const Run* run : flashing) {
        chips.Add(ChipLabel(*run), *run);
        images.Add(ImageLabel(*run), *run);
        stations.Add(StationLabel(*run), *run);
        std::string started = run->Text(Col::Started);
        if (started.size() >= 13)
            hours.Add(started.substr(0, 10) + " " + started.substr(11, 2) + ":00", *run);
    }
    summary->ByChip = chips.Take();
    summary->ByImage = images.Take();
    summary->ByStation = stations.Take();
    summary->ByHour = hours.Take();
    std::sort(summary->ByHour.begin(), summary->ByHour.end(),
              [](const Group& a, const Group& b) { return a.Name < b.Name; });
}

void MeasureDurations(const std::vector<const Run*>& flashing, Summary* summary)
{
    std::vector<int64_t> durations;
    for (const Run* run : flashing) {
        if (EndedOk(*run) && run->Number(Col::DurationMs))
            durations.push_back(*run->Number(Col::DurationMs));
    }
    std::sort(durations.begin(), durations.end());
    summary->Durations = static_cast<int>(durations.size());
    if (!durations.empty()) {
        summary->MedianMs = Percentile(durations, 50);
        summary->P95Ms = Percentile(durations, 95);
    }
}

// As LVFS stops a rollout (lvfs/firmware/models.py, is_failure: enough
// failures, too low a success rate), per station: the rule counts against the
// whole window, so a station's first few runs need as many failures as a full
// window does before the line stops.
void ApplyStopRule(const std::vector<const Run*>& flashing, const StopRule& rule, Summary* summary)
{
    std::map<std::string, std::vector<const Run*>> byStation;
    for (const Run* run : flashing)
        byStation[StationLabel(*run)].push_back(run);
    for (const auto& [station, runs] : byStation) {
        size_t from = runs.size() > static_cast<size_t>(rule.Window) ? runs.size() - rule.Window : 0;
        int failures = 0;
        for (size_t i = from; i < runs.size(); ++i)
            failures += EndedOk(*runs[i]) ? 0 : 1;
        if (static_cast<int64_t>(failures) * 100 > static_cast<int64_t>(rule.Percent) * rule.Window)
            summary->Stops.push_back({station, failures, static_cast<int>(runs.size() - from)});
    }
}

}  // namespace

void Tally::Add(const Run& run)
{
    ++Runs;
    Ok += EndedOk(run) ? 1 : 0;
    Incomplete += run.Number(Col::Complete).value_or(0) == 0 ? 1 : 0;
}

// What SMBIOS type 1 holds on boards nobody filled in (the strings firmware
// kits ship as defaults), and an empty or all-one-character serial.
bool IsPlaceholderSerial(const std::string& serial)
{
    static const char* const PLACEHOLDERS[] = {
        "unknown", "to be filled by o.e.m.", "default string", "system serial number", "not specified",
        "not applicable", "none", "n/a", "na", "oem", "o.e.m.", "serial", "0123456789", "123456789", "1234567890",
    };
    std::string text = Lower(Trimmed(serial));
    if (text.empty() || text.find_first_not_of(text[0]) == std::string::npos)
        return true;
    return std::find(std::begin(PLACEHOLDERS), std::end(PLACEHOLDERS), text) != std::end(PLACEHOLDERS);
}

std::string StatusOf(const Run& run)
{
    if (run.Number(Col::Complete).value_or(0) == 0)
        return "INCOMPLETE";
    return run.Text(Col::Status);
}

std::string ChipLabel(const Run& run)
{
    return run[Col::Chip].Text ? run.Text(Col::Chip) : "(not recorded)";
}

std::string ImageLabel(const Run& run)
{
    if (!run[Col::Image].Text)
        return "(not recorded)";
    return run.Text(Col::Image) + " " + (run[Col::ImageCrc32].Text ? run.Text(Col::ImageCrc32) : "(no CRC)");
}

std::string StationLabel(const Run& run)
{
    return run.Text(Col::Station).empty() ? "(none)" : run.Text(Col::Station);
}

Summary Summarise(const std::vector<Run>& runs, const StopRule& rule)
{
    Summary summary;
    summary.Runs = static_cast<int>(runs.size());
    std::vector<const Run*> flashing;
    for (const Run& run : runs) {
        if (IsFlashing(run))
            flashing.push_back(&run);
        if (run.Number(Col::Complete).value_or(0) == 0)
            summary.Incomplete.push_back(&run);
    }
    summary.FlashingRuns = static_cast<int>(flashing.size());
    CountStatuses(runs, &summary);
    FollowMachines(flashing, &summary);
    GroupRuns(flashing, &summary);
    MeasureDurations(flashing, &summary);
    ApplyStopRule(flashing, rule, &summary);
    return summary;
}

}  // namespace zar::records
