// One line of a record read back: its key=value fields, with the writer's
// quoting and escapes undone (Applications/Main/RunRecordWriter.cpp), and the
// command line's words.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zar::records {

struct Field {
    std::string Value;
    bool Quoted = false;
    std::string Note;  // the word in parentheses after it: "OK" in status=0 (OK)
};
using Fields = std::vector<std::pair<std::string, Field>>;

const Field* Find(const Fields& fields, std::string_view key);

// "ZAR-END key=value key=\"text\" status=0 (OK) ...": every field after the
// line's first word. False, with *error, on anything the writer never writes.
bool ParseFields(std::string_view line, Fields* fields, std::string* error);
// "ZAR-CMD zar /log \"a b.log\" ec.bin": the words after the first.
bool ParseCommand(std::string_view line, std::vector<std::string>* words, std::string* error);

// Decimal digits only, at most 18 of them (they fit in 64 bits).
bool AllDigits(std::string_view text);

}  // namespace zar::records
