// One page that opens anywhere: the styles inline, the charts inline SVG, no
// script, nothing fetched. Text at 16 px and chart labels at 14 px read
// without zooming.
#include <algorithm>
#include <ctime>

#include "tools/zar-records/Display.h"
#include "tools/zar-records/Reports.h"

namespace zar::records {
namespace {

constexpr const char* OK_COLOUR = "#2e7d32";
constexpr const char* FAILED_COLOUR = "#c62828";
constexpr const char* CUT_COLOUR = "#8d8d8d";
constexpr int CHART_WIDTH = 960;
constexpr size_t MOST_DURATION_ROWS = 120;  // the latest runs; the table below has every machine

constexpr const char* STYLE = R"(
body { font: 16px/1.45 system-ui, "DejaVu Sans", sans-serif; color: #1a1a1a; background: #fff; margin: 24px; max-width: 1000px; }
h1 { font-size: 26px; margin: 0 0 4px; }
h2 { font-size: 20px; margin: 28px 0 8px; border-bottom: 2px solid #ddd; }
.meta { color: #555; margin: 0 0 16px; }
.stop { background: #c62828; color: #fff; font-weight: bold; padding: 12px 16px; border-radius: 4px; }
table { border-collapse: collapse; margin: 4px 0 8px; }
th, td { padding: 4px 12px; border-bottom: 1px solid #ddd; text-align: left; vertical-align: top; }
th { background: #f2f2f2; }
td.n { text-align: right; font-variant-numeric: tabular-nums; }
.figures td:first-child { font-weight: bold; }
.OK { color: #2e7d32; font-weight: bold; } .bad { color: #c62828; font-weight: bold; }
svg { display: block; max-width: 100%; height: auto; }
svg text { font: 14px system-ui, "DejaVu Sans", sans-serif; fill: #1a1a1a; }
)";

// At most bytes bytes, never in the middle of a UTF-8 sequence.
std::string Shortened(const std::string& text, size_t bytes)
{
    if (text.size() <= bytes)
        return text;
    size_t cut = bytes - 1;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return text.substr(0, cut) + "\xE2\x80\xA6";
}

std::string StatusCell(const std::string& status)
{
    return "<td class=\"" + std::string(status == "OK" ? "OK" : "bad") + "\">" + ForHtml(status) + "</td>";
}

void Rect(std::ostream& out, double x, double y, double width, double height, const char* colour,
          const std::string& tip)
{
    out << "<rect x=\"" << x << "\" y=\"" << y << "\" width=\"" << width << "\" height=\"" << height
        << "\" fill=\"" << colour << "\"><title>" << ForHtml(tip) << "</title></rect>\n";
}

void Label(std::ostream& out, double x, double y, const std::string& text, const char* anchor = "start")
{
    out << "<text x=\"" << x << "\" y=\"" << y << "\" text-anchor=\"" << anchor << "\">" << ForHtml(text)
        << "</text>\n";
}

void Legend(std::ostream& out, double y)
{
    const std::pair<const char*, const char*> keys[] = {{OK_COLOUR, "OK"}, {FAILED_COLOUR, "failed"},
                                                        {CUT_COLOUR, "cut short"}};
    double x = 0;
    for (const auto& [colour, name] : keys) {
        Rect(out, x, y - 12, 14, 14, colour, name);
        Label(out, x + 20, y, name);
        x += 130;
    }
}

// Flashing runs per hour, stacked: OK, failed, cut short; the yield above.
void HourChart(std::ostream& out, const std::vector<Group>& hours)
{
    if (hours.empty()) {
        out << "<p>No flashing run has a date (the machines' clocks gave none).</p>\n";
        return;
    }
    const double left = 50, top = 40, plot = 200, width = CHART_WIDTH - left - 10;
    int most = 1;
    for (const Group& hour : hours)
        most = std::max(most, hour.Counts.Runs);
    double step = width / static_cast<double>(hours.size());
    size_t labelEvery = std::max<size_t>(1, static_cast<size_t>(110 / step) + 1);
    out << "<svg viewBox=\"0 0 " << CHART_WIDTH << " " << top + plot + 60 << "\" role=\"img\" "
        << "aria-label=\"Flashing runs by hour\">\n";
    Legend(out, 16);
    Label(out, left - 8, top + 5, std::to_string(most), "end");
    Label(out, left - 8, top + plot, "0", "end");
    for (size_t i = 0; i < hours.size(); ++i) {
        const Tally& t = hours[i].Counts;
        double bar = std::min(step * 0.7, 70.0), y = top + plot;
        double x = left + step * static_cast<double>(i) + (step - bar) / 2;
        int parts[3] = {t.Ok, t.Failed() - t.Incomplete, t.Incomplete};
        const char* colours[3] = {OK_COLOUR, FAILED_COLOUR, CUT_COLOUR};
        const char* names[3] = {"OK", "failed", "cut short"};
        for (int k = 0; k < 3; ++k) {
            double height = plot * parts[k] / most;
            y -= height;
            if (parts[k])
                Rect(out, x, y, bar, height, colours[k], hours[i].Name + ": " + std::to_string(parts[k]) + " " + names[k]);
        }
        Label(out, x + bar / 2, y - 6, Percent(t.Ok, t.Runs), "middle");
        if (i % labelEvery == 0)
            Label(out, x + bar / 2, top + plot + 22, hours[i].Name.substr(5), "middle");
    }
    out << "<line x1=\"" << left << "\" y1=\"" << top + plot << "\" x2=\"" << left + width << "\" y2=\""
        << top + plot << "\" stroke=\"#555\"/>\n</svg>\n";
}

// One bar per flashing run, named by its serial, as long as the run took.
void DurationChart(std::ostream& out, const std::vector<Run>& runs)
{
    std::vector<const Run*> shown;
    for (const Run& run : runs) {
        if (IsFlashing(run))
            shown.push_back(&run);
    }
    if (shown.size() > MOST_DURATION_ROWS) {
        out << "<p>The latest " << MOST_DURATION_ROWS << " of " << shown.size() << " flashing runs.</p>\n";
        shown.erase(shown.begin(), shown.end() - MOST_DURATION_ROWS);
    }
    int64_t longest = 1;
    for (const Run* run : shown)
        longest = std::max(longest, run->Number(Col::DurationMs).value_or(0));
    const double names = 250, bars = CHART_WIDTH - names - 110, row = 24, top = 34;
    out << "<svg viewBox=\"0 0 " << CHART_WIDTH << " " << top + row * static_cast<double>(shown.size()) + 8
        << "\" role=\"img\" aria-label=\"Duration of each flashing run\">\n";
    Legend(out, 16);
    for (size_t i = 0; i < shown.size(); ++i) {
        const Run& run = *shown[i];
        double y = top + row * static_cast<double>(i);
        std::string serial = run.Text(Col::Serial).empty() ? "(no serial)" : run.Text(Col::Serial);
        std::string status = StatusOf(run);
        const char* colour = status == "OK" ? OK_COLOUR : status == "INCOMPLETE" ? CUT_COLOUR : FAILED_COLOUR;
        Label(out, names - 10, y + 16, Shortened(serial, 30), "end");
        std::optional<int64_t> ms = run.Number(Col::DurationMs);
        double width = ms ? std::max(2.0, bars * static_cast<double>(*ms) / static_cast<double>(longest)) : 2.0;
        Rect(out, names, y + 3, width, row - 6, colour,
             serial + ", " + status + ", " + run.Text(Col::Started) + ", " + StationLabel(run));
        std::string said = status == "INCOMPLETE" ? "cut short: no summary" : status;
        Label(out, names + width + 8, y + 16, (ms ? Seconds(*ms) + " " : std::string()) + said);
    }
    out << "</svg>\n";
}

void FiguresTable(std::ostream& out, const Summary& summary)
{
    int machines = static_cast<int>(summary.Machines.size());
    auto row = [&](const std::string& name, const std::string& value) {
        out << "<tr><td>" << ForHtml(name) << "</td><td>" << ForHtml(value) << "</td></tr>\n";
    };
    out << "<table class=\"figures\">\n";
    row("Machines (by serial)", std::to_string(machines));
    row("First-pass yield", Percent(summary.FirstPassOk, machines) + " (" + std::to_string(summary.FirstPassOk) +
                                " of " + std::to_string(machines) + ")");
    row("Final yield", Percent(summary.FinalOk, machines) + " (" + std::to_string(summary.FinalOk) + " of " +
                           std::to_string(machines) + ")");
    row("Runs", std::to_string(summary.Runs) + " (" + std::to_string(summary.FlashingRuns) + " flashing)");
    row("Incomplete runs", std::to_string(summary.Incomplete.size()));
    if (summary.Placeholder.Runs)
        row("Runs without a usable serial", std::to_string(summary.Placeholder.Runs) + " flashing, " +
                                                std::to_string(summary.Placeholder.Ok) + " OK (not counted as machines)");
    if (summary.MedianMs)
        row("Duration of an OK flashing run", "median " + Seconds(*summary.MedianMs) + ", 95th percentile " +
                                                  Seconds(*summary.P95Ms));
    out << "</table>\n";
}

void GroupTable(std::ostream& out, const char* title, const char* what, const std::vector<Group>& groups)
{
    out << "<h2>" << title << "</h2>\n<table><tr><th>" << what
        << "</th><th>runs</th><th>OK</th><th>failed</th><th>yield</th></tr>\n";
    for (const Group& group : groups) {
        const Tally& t = group.Counts;
        out << "<tr><td>" << ForHtml(group.Name) << "</td><td class=\"n\">" << t.Runs << "</td><td class=\"n\">"
            << t.Ok << "</td><td class=\"n\">" << t.Failed() << "</td><td class=\"n\">" << Percent(t.Ok, t.Runs)
            << "</td></tr>\n";
    }
    out << "</table>\n";
}

void MachineTable(std::ostream& out, const Summary& summary)
{
    out << "<h2>Machines</h2>\n<table><tr><th>serial</th><th>flashing runs</th><th>first run</th>"
        << "<th>last run</th><th>station</th></tr>\n";
    for (const Machine& machine : summary.Machines) {
        out << "<tr><td>" << ForHtml(machine.Serial) << "</td><td class=\"n\">" << machine.Runs << "</td>"
            << StatusCell(machine.FirstStatus) << StatusCell(machine.FinalStatus) << "<td>"
            << ForHtml(machine.Station) << "</td></tr>\n";
    }
    out << "</table>\n";
}

void StatusAndIncompleteTables(std::ostream& out, const Summary& summary)
{
    out << "<h2>Statuses (every run)</h2>\n<table><tr><th>status</th><th>runs</th></tr>\n";
    for (const auto& [status, count] : summary.Statuses)
        out << "<tr>" << StatusCell(status) << "<td class=\"n\">" << count << "</td></tr>\n";
    out << "</table>\n";
    if (summary.Incomplete.empty())
        return;
    out << "<h2>Incomplete runs</h2>\n<p>Records that end before their summary: the run was cut short (power, "
           "reset) or its log could not be written.</p>\n<table><tr><th>log</th><th>line</th><th>serial</th>"
           "<th>started</th></tr>\n";
    for (const Run* run : summary.Incomplete) {
        out << "<tr><td>" << ForHtml(run->Text(Col::Log)) << "</td><td class=\"n\">"
            << run->Number(Col::Line).value_or(0) << "</td><td>" << ForHtml(run->Text(Col::Serial)) << "</td><td>"
            << ForHtml(run->Text(Col::Started)) << "</td></tr>\n";
    }
    out << "</table>\n";
}

std::string Now()
{
    std::time_t now = std::time(nullptr);
    char text[32] = "";
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", std::localtime(&now));
    return text;
}

}  // namespace

void WriteHtml(std::ostream& out, const std::vector<Run>& runs, const Summary& summary, const StopRule& rule,
               const std::string& title)
{
    out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        << "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        << "<title>ZAR line report: " << ForHtml(title) << "</title>\n<style>" << STYLE << "</style>\n</head>\n<body>\n"
        << "<h1>ZAR line report</h1>\n<p class=\"meta\">" << ForHtml(title) << " &middot; " << runs.size()
        << " runs &middot; made " << Now() << "</p>\n";
    for (const StopAlarm& stop : summary.Stops)
        out << "<p class=\"stop\">" << ForHtml(StopLine(stop, rule)) << "</p>\n";
    FiguresTable(out, summary);
    out << "<h2>Flashing runs by hour</h2>\n";
    HourChart(out, summary.ByHour);
    out << "<h2>Duration of each flashing run</h2>\n";
    DurationChart(out, runs);
    GroupTable(out, "Yield by station", "station", summary.ByStation);
    GroupTable(out, "Yield by chip", "chip", summary.ByChip);
    GroupTable(out, "Yield by image", "image and CRC-32", summary.ByImage);
    MachineTable(out, summary);
    StatusAndIncompleteTables(out, summary);
    out << "</body>\n</html>\n";
}

}  // namespace zar::records
