#include "tools/zar-records/RecordLine.h"

namespace zar::records {
namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The writer's two escapes undone: \\ and \xHH. Nothing else follows a
// backslash in a record.
bool Unescape(std::string_view text, std::string* out)
{
    out->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            *out += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '\\') {
            *out += '\\';
            ++i;
        } else if (i + 3 < text.size() && text[i + 1] == 'x' && HexDigit(text[i + 2]) >= 0 &&
                   HexDigit(text[i + 3]) >= 0) {
            *out += static_cast<char>(HexDigit(text[i + 2]) * 16 + HexDigit(text[i + 3]));
            i += 3;
        } else {
            return false;
        }
    }
    return true;
}

// One word of a line: a quoted value runs to the next '"' (the writer turns
// every '"' inside into \x22), a bare one to the next blank.
bool TakeWord(std::string_view line, size_t* at, std::string* word, bool* quoted, std::string* error)
{
    *quoted = *at < line.size() && line[*at] == '"';
    size_t start = *at + (*quoted ? 1 : 0);
    size_t end = line.find(*quoted ? '"' : ' ', start);
    if (*quoted && end == std::string_view::npos) {
        *error = "a quoted value without its closing quote";
        return false;
    }
    end = end == std::string_view::npos ? line.size() : end;
    if (!Unescape(line.substr(start, end - start), word)) {
        *error = "a backslash that is neither \\\\ nor \\xHH";
        return false;
    }
    *at = end + (*quoted ? 1 : 0);
    if (*at < line.size() && line[*at] != ' ') {
        *error = "no blank after a value";
        return false;
    }
    return true;
}

}  // namespace

const Field* Find(const Fields& fields, std::string_view key)
{
    for (const auto& [name, field] : fields) {
        if (name == key)
            return &field;
    }
    return nullptr;
}

// "key=value key=\"text\" status=0 (OK) ...", after the line's own word.
bool ParseFields(std::string_view line, Fields* fields, std::string* error)
{
    size_t at = line.find(' ');
    while (at != std::string_view::npos && at < line.size()) {
        ++at;  // the blank
        if (line.compare(at, 1, "(") == 0 && !fields->empty() && fields->back().second.Note.empty()) {
            size_t close = line.find(')', at);
            if (close == std::string_view::npos) {
                *error = "a word in parentheses without its ')'";
                return false;
            }
            fields->back().second.Note = std::string(line.substr(at + 1, close - at - 1));
            at = close + 1;
            if (at < line.size() && line[at] != ' ') {
                *error = "no blank after a word in parentheses";
                return false;
            }
            continue;
        }
        size_t equals = line.find('=', at);
        size_t blank = line.find(' ', at);
        if (equals == std::string_view::npos || equals == at || (blank != std::string_view::npos && blank < equals)) {
            *error = "a word that is not key=value";
            return false;
        }
        std::string key(line.substr(at, equals - at));
        if (Find(*fields, key)) {
            *error = "the field " + key + " twice";
            return false;
        }
        Field field;
        at = equals + 1;
        if (!TakeWord(line, &at, &field.Value, &field.Quoted, error))
            return false;
        fields->emplace_back(std::move(key), std::move(field));
    }
    return true;
}

// The command line's words, quoted where they hold a blank.
bool ParseCommand(std::string_view line, std::vector<std::string>* words, std::string* error)
{
    size_t at = line.find(' ');
    while (at != std::string_view::npos && at < line.size()) {
        ++at;
        std::string word;
        bool quoted;
        if (!TakeWord(line, &at, &word, &quoted, error))
            return false;
        words->push_back(std::move(word));
    }
    return true;
}

bool AllDigits(std::string_view text)
{
    if (text.empty() || text.size() > 18)
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

}  // namespace zar::records
