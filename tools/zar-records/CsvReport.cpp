#include <string_view>

#include "tools/zar-records/Reports.h"

namespace zar::records {
namespace {

// RFC 4180: a field with a comma, a quote or a line break is quoted, its
// quotes doubled. A text a spreadsheet would take for a formula (a serial
// "=cmd|..." from a hostile firmware) gets a leading apostrophe (OWASP's
// advice against CSV injection).
std::string CsvText(const std::string& text)
{
    bool formula = !text.empty() && std::string_view("=+-@\t\r").find(text[0]) != std::string_view::npos;
    std::string cell = formula ? "'" : "";
    cell += text;
    if (cell.find_first_of(",\"\r\n") == std::string::npos)
        return cell;
    std::string quoted = "\"";
    for (char c : cell)
        quoted += c == '"' ? "\"\"" : std::string(1, c);
    return quoted + "\"";
}

}  // namespace

void WriteCsv(std::ostream& out, const std::vector<Run>& runs)
{
    out << "id";
    for (size_t i = 0; i < COLUMN_COUNT; ++i) {
        if (static_cast<Col>(i) != Col::Record)
            out << "," << COLUMNS[i].Name;
    }
    out << "\r\n";
    for (const Run& run : runs) {
        out << run.Id;
        for (size_t i = 0; i < COLUMN_COUNT; ++i) {
            if (static_cast<Col>(i) == Col::Record)
                continue;
            const Value& value = run.Values[i];
            out << ",";
            if (value.Integer)
                out << *value.Integer;
            else if (value.Text)
                out << CsvText(*value.Text);
        }
        out << "\r\n";
    }
}

}  // namespace zar::records
