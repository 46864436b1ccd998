// The summary written out: as text for the console, one CSV row per run, and
// one self-contained HTML page with inline SVG charts.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "tools/zar-records/Runs.h"
#include "tools/zar-records/Summary.h"

namespace zar::records {

// "STOP THE LINE: ..." for each alarm, as the text and the page say it.
std::string StopLine(const StopAlarm& stop, const StopRule& rule);

void WriteText(std::ostream& out, const Summary& summary, const StopRule& rule);
// A header row of the column names (id first, without the record's text),
// then one row per run, as RFC 4180 quotes them.
void WriteCsv(std::ostream& out, const std::vector<Run>& runs);
void WriteHtml(std::ostream& out, const std::vector<Run>& runs, const Summary& summary, const StopRule& rule,
               const std::string& title);

}  // namespace zar::records
