// zar-records' reading of a log on any bytes, then the summary and both
// reports over what it read: no crash, no read out of bounds, and a run that
// reads as finished always has its status.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <sstream>
#include <string>

#include "tools/zar-records/RecordFormat.h"
#include "tools/zar-records/Reports.h"
#include "tools/zar-records/Summary.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace zar::records;
    LogReading reading = ReadLog("fuzz.log", std::string(reinterpret_cast<const char*>(data), size));
    for (const Run& run : reading.Runs) {
        if (run.Number(Col::Complete) == 1 && run.Text(Col::Status).empty())
            abort();
    }
    StopRule rule{3, 10};
    Summary summary = Summarise(reading.Runs, rule);
    std::ostringstream out;
    WriteText(out, summary, rule);
    WriteCsv(out, reading.Runs);
    WriteHtml(out, reading.Runs, summary, rule, "fuzz");
    return 0;
}
