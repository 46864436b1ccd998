#include "tools/zar-records/Runs.h"

namespace zar::records {

const std::array<Column, COLUMN_COUNT> COLUMNS = {{
    {"record", ColType::Blob},
    {"log", ColType::Text},
    {"line", ColType::Integer},
    {"complete", ColType::Integer},
    {"started", ColType::Text},
    {"version", ColType::Text},
    {"manufacturer", ColType::Text},
    {"product", ColType::Text},
    {"serial", ColType::Text},
    {"command", ColType::Text},
    {"verb", ColType::Text},
    {"image", ColType::Text},
    {"size", ColType::Integer},
    {"checksum", ColType::Text},
    {"image_crc32", ColType::Text},
    {"chip", ColType::Text},
    {"maker", ColType::Text},
    {"chip_id", ColType::Text},
    {"module", ColType::Text},
    {"station", ColType::Text},
    {"written", ColType::Integer},
    {"unchanged", ColType::Integer},
    {"failed", ColType::Integer},
    {"sectors_written", ColType::Integer},
    {"sectors_equal", ColType::Integer},
    {"sectors_kept", ColType::Integer},
    {"erase_64k", ColType::Integer},
    {"erase_4k", ColType::Integer},
    {"programmed", ColType::Integer},
    {"duration_ms", ColType::Integer},
    {"status", ColType::Text},
    {"status_code", ColType::Integer},
    {"close", ColType::Text},
    {"amended", ColType::Integer},
    {"extra", ColType::Text},
}};

bool IsFlashing(const Run& run)
{
    std::string verb = run.Text(Col::Verb);
    return verb == "flash" || verb == "update";
}

bool EndedOk(const Run& run)
{
    return run.Number(Col::Complete).value_or(0) == 1 && run.Text(Col::Status) == "OK";
}

}  // namespace zar::records
