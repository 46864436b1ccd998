#include "tools/zar-records/RecordFormat.h"

#include "tools/zar-records/RecordLine.h"

#include <optional>
#include <set>
#include <string_view>
#include <utility>

namespace zar::records {
namespace {

constexpr std::string_view LOG_MAGIC = "ZAR-RUN ";

// As the flasher reads its line: "/log FILE" first, /update's own words, then
// a verb and the word it takes, an image, or nothing (the usage screen).
struct CommandLine {
    std::string Verb;
    std::optional<std::string> Image;  // the image, or the file /read writes
};

CommandLine ReadCommandLine(const std::vector<std::string>& words)
{
    size_t at = words.size() > 1 && words[1] == "/log" ? 3 : 1;
    while (at < words.size() && (words[at] == "/keep" || words[at] == "/backup"))
        at += 2;
    if (at >= words.size())
        return {"usage", std::nullopt};
    for (const char* verb : {"/probe", "/read", "/verify", "/update"}) {
        if (words[at] != verb)
            continue;
        bool takesFile = words[at] != "/probe" && at + 1 < words.size();
        return {verb + 1, takesFile ? std::optional(words[at + 1]) : std::nullopt};
    }
    return {"flash", words[at]};
}

// "2026-12-07" and "14:03:22" as ISO 8601; both "unknown": no clock.
bool StartedAt(const Fields& head, Value* started)
{
    const Field* date = Find(head, "date");
    const Field* time = Find(head, "time");
    bool noDate = date == nullptr || date->Value == "unknown";
    bool noTime = time == nullptr || time->Value == "unknown";
    if (noDate || noTime)
        return noDate == noTime;
    auto shaped = [](const std::string& text, char separator, size_t firstWidth) {
        size_t widths[3] = {firstWidth, 2, 2};
        size_t at = 0;
        for (size_t part = 0; part < 3; ++part) {
            if (text.size() < at + widths[part] || !AllDigits(std::string_view(text).substr(at, widths[part])))
                return false;
            at += widths[part];
            if (part < 2 && (at >= text.size() || text[at++] != separator))
                return false;
        }
        return at == text.size();
    };
    if (!shaped(date->Value, '-', 4) || !shaped(time->Value, ':', 2))
        return false;
    started->Text = date->Value + "T" + time->Value;
    return true;
}

// A text the firmware or the user gave is quoted; a bare word in its place is
// the flasher's own "none" or "unknown".
void SetText(Run* run, Col column, const Field* field)
{
    if (field)
        (*run)[column].Text = field->Quoted ? std::optional(field->Value) : std::nullopt;
}

bool SetNumber(Run* run, Col column, const Field* field, std::string* error, const char* key)
{
    if (field == nullptr)
        return true;
    if (!AllDigits(field->Value)) {
        *error = std::string("the field ") + key + " is not a number";
        return false;
    }
    (*run)[column].Integer = std::stoll(field->Value);
    return true;
}

bool SetDuration(Run* run, const Field* field, std::string* error)
{
    if (field == nullptr || field->Value == "unknown")
        return true;
    std::string_view text = field->Value;
    // Milliseconds; /update's records before them said seconds.
    bool ms = text.ends_with("ms");
    std::string_view digits = text.substr(0, text.size() - (ms ? 2 : 1));
    if (!(ms || text.ends_with("s")) || !AllDigits(digits)) {
        *error = "the field duration is neither Nms nor Ns";
        return false;
    }
    (*run)[Col::DurationMs].Integer = std::stoll(std::string(digits)) * (ms ? 1 : 1000);
    return true;
}

struct Line {
    std::string_view Text;
    int Number;
    bool Ended;  // a line break follows it
};

constexpr std::pair<const char*, Col> END_COUNTS[] = {
    {"size", Col::Size},
    {"written", Col::Written},
    {"unchanged", Col::Unchanged},
    {"failed", Col::Failed},
    {"sectors-written", Col::SectorsWritten},
    {"sectors-equal", Col::SectorsEqual},
    {"sectors-kept", Col::SectorsKept},
    {"erase-64k", Col::Erase64k},
    {"erase-4k", Col::Erase4k},
    {"programmed", Col::Programmed},
};
constexpr std::pair<const char*, Col> END_TEXTS[] = {
    {"serial", Col::Serial},
    {"image", Col::Image},
    {"maker", Col::Maker},
    {"station", Col::Station},
    {"module", Col::Module},
};
constexpr const char* END_OWN_WORDS[] = {"checksum", "chip", "id", "image-crc32", "status", "close", "duration"};

bool Known(std::string_view key)
{
    for (const auto& [name, column] : END_COUNTS) {
        if (key == name)
            return true;
    }
    for (const auto& [name, column] : END_TEXTS) {
        if (key == name)
            return true;
    }
    for (const char* name : END_OWN_WORDS) {
        if (key == name)
            return true;
    }
    return false;
}

// A field whose value is the flasher's own word, or none: bare "none" and
// "unknown" are no value.
void SetWord(Run* run, Col column, const Field* field)
{
    if (field && field->Value != "none" && field->Value != "unknown")
        (*run)[column].Text = field->Value;
}

// The summary line into the run. Fields this reader does not know go to
// "extra", so that a newer flasher's records still import.
bool ReadSummary(const Fields& end, Run* run, std::string* error)
{
    for (const auto& [key, column] : END_COUNTS) {
        if (!SetNumber(run, column, Find(end, key), error, key))
            return false;
    }
    for (const auto& [key, column] : END_TEXTS)
        SetText(run, column, Find(end, key));
    if (const Field* chip = Find(end, "chip"))
        (*run)[Col::Chip].Text = chip->Value;
    SetWord(run, Col::Checksum, Find(end, "checksum"));
    SetWord(run, Col::ChipId, Find(end, "id"));
    SetWord(run, Col::ImageCrc32, Find(end, "image-crc32"));
    if (!SetDuration(run, Find(end, "duration"), error))
        return false;
    std::string extra;
    for (const auto& [key, field] : end) {
        if (!Known(key))
            extra += (extra.empty() ? "" : " ") + key + "=" + field.Value;
    }
    if (!extra.empty())
        (*run)[Col::Extra].Text = extra;
    return true;
}

// status=N (NAME): the run's status, NAME as the record spells it.
bool SetStatus(const Fields& fields, Run* run, std::string* error)
{
    const Field* status = Find(fields, "status");
    if (status == nullptr || !AllDigits(status->Value) || status->Note.empty()) {
        *error = "no status=N (NAME)";
        return false;
    }
    (*run)[Col::StatusCode].Integer = std::stoll(status->Value);
    (*run)[Col::Status].Text = status->Note;
    return true;
}

class Reader {
public:
    Reader(const std::string& name, const std::string& bytes) : name_(name), bytes_(bytes) {}

    LogReading Read();

private:
    void SplitLines();
    void ReadRecord(size_t first, size_t end);
    bool ReadHeader(size_t first, size_t end, Run* run);
    // The lines after the summary: console text, then at most one ZAR-AFTER.
    size_t ReadAfter(size_t at, size_t end, Run* run);
    void Keep(Run run, size_t first, size_t last);
    void GiveCutRecordsTheStation();
    // line 0: the file as a whole.
    void Warn(int line, const std::string& what)
    {
        result_.Warnings.push_back(name_ + (line ? ":" + std::to_string(line) : std::string()) + ": " + what);
    }
    bool Console(const Line& line) const { return line.Text.empty() || line.Text.starts_with("  "); }
    // A line the file ends in, without its line break: where a write stopped.
    bool CutAtEnd(size_t index) const { return index + 1 == lines_.size() && !lines_[index].Ended; }

    const std::string& name_;
    std::string_view bytes_;
    std::vector<Line> lines_;
    LogReading result_;
};

void Reader::SplitLines()
{
    // A write cut short on FAT can leave zeros where the text should be.
    size_t length = bytes_.size();
    while (length > 0 && bytes_[length - 1] == 0)
        --length;
    if (length < bytes_.size())
        Warn(0, std::to_string(bytes_.size() - length) + " zero bytes at its end, as a write cut short leaves "
                                                         "them: ignored");
    std::string_view text = bytes_.substr(0, length);
    int number = 1;
    for (size_t at = 0; at < text.size(); ++number) {
        size_t end = text.find('\n', at);
        bool ended = end != std::string_view::npos;
        std::string_view line = text.substr(at, (ended ? end : text.size()) - at);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        lines_.push_back({line, number, ended});
        at = ended ? end + 1 : text.size();
    }
}

LogReading Reader::Read()
{
    result_.IsLog = bytes_.empty() || bytes_.starts_with(LOG_MAGIC);
    if (!result_.IsLog)
        return std::move(result_);
    SplitLines();
    for (size_t first = 0; first < lines_.size();) {
        size_t end = first + 1;
        while (end < lines_.size() && !lines_[end].Text.starts_with(LOG_MAGIC))
            ++end;
        ReadRecord(first, end);
        first = end;
    }
    GiveCutRecordsTheStation();
    return std::move(result_);
}

// The station is in the summary only. A log is a stick, and a stick usually
// serves one station: when every summary of the log names the same one, a
// record cut short was made there too.
void Reader::GiveCutRecordsTheStation()
{
    std::set<std::string> stations;
    for (const Run& run : result_.Runs) {
        if (run.Number(Col::Complete) == 1)
            stations.insert(run.Text(Col::Station));
    }
    if (stations.size() != 1)
        return;
    for (Run& run : result_.Runs) {
        if (run.Number(Col::Complete) == 0)
            run[Col::Station].Text = *stations.begin();
    }
}

bool Reader::ReadHeader(size_t first, size_t end, Run* run)
{
    Fields head;
    std::string error;
    std::vector<std::string> words;
    if (!ParseFields(lines_[first].Text, &head, &error) || !StartedAt(head, &(*run)[Col::Started])) {
        Warn(lines_[first].Number, "damaged record skipped: its ZAR-RUN line: " +
                                       (error.empty() ? std::string("a date or time that can't be") : error));
        return false;
    }
    if (first + 1 >= end || !lines_[first + 1].Text.starts_with("ZAR-CMD") ||
        !ParseCommand(lines_[first + 1].Text, &words, &error)) {
        Warn(lines_[first].Number, "damaged record skipped: no whole ZAR-CMD line after its ZAR-RUN" +
                                       (error.empty() ? std::string() : " (" + error + ")"));
        return false;
    }
    if (const Field* version = Find(head, "version"))
        (*run)[Col::Version].Text = version->Value;
    SetText(run, Col::Manufacturer, Find(head, "manufacturer"));
    SetText(run, Col::Product, Find(head, "product"));
    SetText(run, Col::Serial, Find(head, "serial"));
    std::string_view typed = lines_[first + 1].Text.substr(7);
    (*run)[Col::Command].Text = std::string(typed.starts_with(" ") ? typed.substr(1) : typed);
    // A record cut short has no summary: its command line still names the image.
    CommandLine command = ReadCommandLine(words);
    (*run)[Col::Verb].Text = command.Verb;
    (*run)[Col::Image].Text = command.Image;
    return true;
}

void Reader::ReadRecord(size_t first, size_t end)
{
    Run run;
    run[Col::Log].Text = name_;
    run[Col::Line].Integer = lines_[first].Number;
    run[Col::Complete].Integer = 0;
    if (!ReadHeader(first, end, &run))
        return;
    size_t at = first + 2;
    while (at < end && Console(lines_[at]))
        ++at;
    if (at == end) {
        Warn(lines_[first].Number, "the record ends before its ZAR-END (a run cut short): kept as incomplete");
        return Keep(std::move(run), first, end - 1);
    }
    bool isEnd = lines_[at].Text.starts_with("ZAR-END ");
    Fields summary;
    std::string error;
    // The writer ends every summary with a line break: one without it was cut.
    bool read = isEnd && lines_[at].Ended && ParseFields(lines_[at].Text, &summary, &error) && ReadSummary(summary, &run, &error) &&
                SetStatus(summary, &run, &error) && Find(summary, "close");
    if (!read && CutAtEnd(at)) {
        Warn(lines_[at].Number, "the record is cut short in its last line: kept as incomplete");
        return Keep(std::move(run), first, at);
    }
    if (!read) {
        Warn(lines_[at].Number, "damaged record skipped: " +
                                    (isEnd ? "its ZAR-END line: " + (error.empty() ? "no close=" : error)
                                           : std::string("a line that is neither console text nor ZAR-END")));
        return;
    }
    run[Col::Close].Text = Find(summary, "close")->Value;  // FE, FC or none
    run[Col::Complete].Integer = 1;
    run[Col::Amended].Integer = 0;
    size_t last = ReadAfter(at + 1, end, &run);
    if (last + 1 < end)
        Warn(lines_[last + 1].Number, "text outside any record: ignored");
    Keep(std::move(run), first, last);
}

size_t Reader::ReadAfter(size_t at, size_t end, Run* run)
{
    size_t last = at - 1;
    while (at < end && Console(lines_[at]))
        ++at;
    if (at == end || !lines_[at].Text.starts_with("ZAR-AFTER "))
        return last;  // console text without its ZAR-AFTER is no part of the record
    Fields after;
    std::string error;
    if (!ParseFields(lines_[at].Text, &after, &error) || !SetStatus(after, run, &error)) {
        Warn(lines_[at].Number, "a ZAR-AFTER line that can't be read (" + error + "): the run's status is its "
                                                                               "ZAR-END's");
        return last;
    }
    (*run)[Col::Amended].Integer = 1;
    return at;
}

void Reader::Keep(Run run, size_t first, size_t last)
{
    std::string text;
    for (size_t i = first; i <= last; ++i)
        text.append(lines_[i].Text).append(i < last ? "\n" : "");
    run[Col::Record].Text = std::move(text);
    result_.Runs.push_back(std::move(run));
}

}  // namespace

LogReading ReadLog(const std::string& name, const std::string& bytes)
{
    return Reader(name, bytes).Read();
}

}  // namespace zar::records
