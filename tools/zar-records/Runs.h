// One run as the database keeps it: a row of the table "runs", its columns
// in one list that the schema, the import, the CSV and the reports follow.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace zar::records {

// The columns of "runs" after its id, in order. SCHEMA_VERSION changes with
// any change to them (docs/factory.md describes each).
enum class Col : size_t {
    Record,  // the record's own lines, LF-joined: its identity
    Log,
    Line,
    Complete,
    Started,
    Version,
    Manufacturer,
    Product,
    Serial,
    Command,
    Verb,
    Image,
    Size,
    Checksum,
    ImageCrc32,
    Chip,
    Maker,
    ChipId,
    Module,
    Station,
    Written,
    Unchanged,
    Failed,
    SectorsWritten,
    SectorsEqual,
    SectorsKept,
    Erase64k,
    Erase4k,
    Programmed,
    DurationMs,
    Status,
    StatusCode,
    Close,
    Amended,
    Extra,
    Count
};
constexpr size_t COLUMN_COUNT = static_cast<size_t>(Col::Count);
constexpr int SCHEMA_VERSION = 1;

enum class ColType { Integer, Text, Blob };
struct Column {
    const char* Name;
    ColType Type;
};
extern const std::array<Column, COLUMN_COUNT> COLUMNS;

// A value: NULL, an integer or text (a blob is text too).
struct Value {
    std::optional<int64_t> Integer;
    std::optional<std::string> Text;
    bool IsNull() const { return !Integer && !Text; }
    bool operator==(const Value&) const = default;
};

struct Run {
    int64_t Id = 0;  // the table's, once stored
    std::array<Value, COLUMN_COUNT> Values;

    const Value& operator[](Col c) const { return Values[static_cast<size_t>(c)]; }
    Value& operator[](Col c) { return Values[static_cast<size_t>(c)]; }
    std::string Text(Col c) const { return (*this)[c].Text.value_or(""); }
    std::optional<int64_t> Number(Col c) const { return (*this)[c].Integer; }
};

// The verbs that write the chip: their runs are the ones a yield counts.
bool IsFlashing(const Run& run);
// The run ended OK (a cut record never did).
bool EndedOk(const Run& run);

}  // namespace zar::records
