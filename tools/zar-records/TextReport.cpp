#include <iomanip>

#include "tools/zar-records/Display.h"
#include "tools/zar-records/Reports.h"

namespace zar::records {
namespace {

void Row(std::ostream& out, const std::string& label, const std::string& value)
{
    out << "  " << std::left << std::setw(20) << label << value << "\n";
}

void WriteGroups(std::ostream& out, const char* title, const std::vector<Group>& groups)
{
    if (groups.empty())
        return;
    out << "\n" << title << "\n";
    out << "  " << std::left << std::setw(40) << "" << std::right << std::setw(6) << "runs" << std::setw(6) << "ok"
        << std::setw(8) << "failed" << std::setw(10) << "yield" << "\n";
    for (const Group& group : groups) {
        out << "  " << std::left << std::setw(40) << ForTerminal(group.Name) << std::right << std::setw(6)
            << group.Counts.Runs << std::setw(6) << group.Counts.Ok << std::setw(8) << group.Counts.Failed()
            << std::setw(10) << Percent(group.Counts.Ok, group.Counts.Runs) << "\n";
    }
}

}  // namespace

std::string StopLine(const StopAlarm& stop, const StopRule& rule)
{
    return "STOP THE LINE: station \"" + stop.Station + "\": " + std::to_string(stop.Failures) + " of its last " +
           std::to_string(stop.Runs) + " flashing runs failed (the rule: more than " + std::to_string(rule.Percent) +
           " % of " + std::to_string(rule.Window) + ")";
}

void WriteText(std::ostream& out, const Summary& summary, const StopRule& rule)
{
    for (const StopAlarm& stop : summary.Stops)
        out << ForTerminal(StopLine(stop, rule)) << "\n";
    int machines = static_cast<int>(summary.Machines.size());
    out << "Summary\n";
    Row(out, "runs", std::to_string(summary.Runs) + " (" + std::to_string(summary.FlashingRuns) + " flashing, " +
                         std::to_string(summary.Incomplete.size()) + " incomplete)");
    Row(out, "machines", std::to_string(machines) + " (by serial)");
    Row(out, "first-pass yield", Percent(summary.FirstPassOk, machines) + " (" + std::to_string(summary.FirstPassOk) +
                                     " of " + std::to_string(machines) + " OK at their first flashing run)");
    Row(out, "final yield", Percent(summary.FinalOk, machines) + " (" + std::to_string(summary.FinalOk) + " of " +
                                std::to_string(machines) + " OK at their last flashing run)");
    if (summary.Placeholder.Runs)
        Row(out, "no usable serial", std::to_string(summary.Placeholder.Runs) + " flashing run(s), " +
                                         std::to_string(summary.Placeholder.Ok) + " OK: not counted as machines");
    if (summary.MedianMs)
        Row(out, "duration", "median " + Seconds(*summary.MedianMs) + ", 95th percentile " +
                                 Seconds(*summary.P95Ms) + " (" + std::to_string(summary.Durations) +
                                 " flashing runs that ended OK)");
    out << "\nStatuses\n";
    for (const auto& [status, count] : summary.Statuses)
        Row(out, ForTerminal(status.empty() ? "(none)" : status), std::to_string(count));
    WriteGroups(out, "Yield by chip", summary.ByChip);
    WriteGroups(out, "Yield by image (name, CRC-32)", summary.ByImage);
    WriteGroups(out, "Yield by station", summary.ByStation);
    if (summary.Incomplete.empty())
        return;
    out << "\nIncomplete runs (the record ends before its summary)\n";
    for (const Run* run : summary.Incomplete) {
        out << "  " << ForTerminal(run->Text(Col::Log)) << ":" << run->Number(Col::Line).value_or(0) << "  serial "
            << ForTerminal(run->Text(Col::Serial).empty() ? "(none)" : run->Text(Col::Serial)) << "  "
            << (run->Text(Col::Started).empty() ? "(no date)" : run->Text(Col::Started)) << "\n";
    }
}

}  // namespace zar::records
