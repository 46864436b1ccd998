// A ZAR log (zar /log FILE) read back into runs. The one place that knows
// the record's text: its writer is Applications/Main/RunRecord.cpp, its
// description the RECORD section of platform/uefi/zar.man.
#pragma once

#include <string>
#include <vector>

#include "tools/zar-records/Runs.h"

namespace zar::records {

struct LogReading {
    bool IsLog = false;  // the file begins as every log does, or is empty
    std::vector<Run> Runs;
    std::vector<std::string> Warnings;  // "NAME:LINE: ...", one a line
};

// Every record of the log's bytes, in order. A record cut short (no ZAR-END,
// or one cut in the middle) is a run with complete = 0; a damaged one is
// left out with a warning naming its line. name is what the warnings and the
// column "log" call the file.
LogReading ReadLog(const std::string& name, const std::string& bytes);

}  // namespace zar::records
