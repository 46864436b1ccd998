// zar-records: a factory line's ZAR logs gathered into one SQLite database,
// summarised as the line's yields, and written out as CSV and an HTML page.
//
//   zar-records [--db FILE] [--csv FILE] [--html FILE] [--stop-after N,PERCENT] [LOG...]
//
// Exit status: 0 the summary was printed; 1 the summary says "STOP THE LINE";
// 2 nothing was done (a bad option, a LOG that is not a ZAR log or can't be
// read, a database that can't be used, a report that can't be written).
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/zar-records/Display.h"
#include "tools/zar-records/RecordFormat.h"
#include "tools/zar-records/Reports.h"
#include "tools/zar-records/RunsDatabase.h"

namespace zar::records {
namespace {

constexpr int EXIT_STOP_THE_LINE = 1;
constexpr int EXIT_REFUSED = 2;

struct Options {
    std::string Database = "zar-records.sqlite";
    std::string Csv;
    std::string Html;
    StopRule Rule;
    std::vector<std::string> Logs;
    bool Help = false;
};

void PrintUsage(std::ostream& out)
{
    out << "usage: zar-records [--db FILE] [--csv FILE] [--html FILE] [--stop-after N,PERCENT] [LOG...]\n"
           "  Imports every record of the ZAR logs (zar /log FILE) into an SQLite database, each once,\n"
           "  then prints the summary of all it holds: machines, first-pass and final yield, statuses,\n"
           "  yield by chip, image and station, durations, incomplete runs.\n"
           "  --db FILE              the database (default zar-records.sqlite; created by an import)\n"
           "  --csv FILE             write one row per run, a header row first\n"
           "  --html FILE            write the summary as one self-contained page with charts\n"
           "  --stop-after N,PERCENT \"STOP THE LINE\" when more than PERCENT % of N runs failed among a\n"
           "                         station's last N flashing runs (default 20,10)\n"
           "  --help                 this text\n"
           "  exit status: 0 summarised, 1 stop the line, 2 nothing done (see the message)\n";
}

int Refuse(const std::string& message)
{
    std::cerr << "zar-records: " << ForTerminal(message) << "\n";
    return EXIT_REFUSED;
}

bool ParseStopRule(const std::string& text, StopRule* rule)
{
    size_t comma = text.find(',');
    auto number = [](const std::string& digits, int most, int* value) {
        if (digits.empty() || digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string::npos)
            return false;
        *value = std::stoi(digits);
        return *value >= 1 && *value <= most;
    };
    return comma != std::string::npos && number(text.substr(0, comma), 100000, &rule->Window) &&
           number(text.substr(comma + 1), 100, &rule->Percent);
}

// Options and logs in any order; after "--" only logs. False after saying why.
bool ParseOptions(int argc, char* argv[], Options* options)
{
    bool onlyLogs = false;
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        if (onlyLogs || !word.starts_with("--")) {
            options->Logs.push_back(word);
            continue;
        }
        onlyLogs = word == "--";
        options->Help = options->Help || word == "--help";
        if (onlyLogs || word == "--help")
            continue;
        std::string* target = word == "--db" ? &options->Database : word == "--csv" ? &options->Csv
                              : word == "--html"                  ? &options->Html
                                                                  : nullptr;
        if (target == nullptr && word != "--stop-after") {
            Refuse("unknown option " + word + " (see --help)");
            return false;
        }
        if (i + 1 >= argc || argv[i + 1][0] == 0) {
            Refuse(word + " needs a value (see --help)");
            return false;
        }
        std::string value = argv[++i];
        if (target) {
            *target = value;
        } else if (!ParseStopRule(value, &options->Rule)) {
            Refuse("--stop-after is N,PERCENT (N runs from 1, PERCENT 1 to 100), not " + value);
            return false;
        }
    }
    return true;
}

// The whole file, from a regular file only: a device or a pipe is never read.
bool ReadWhole(const std::string& path, std::string* bytes, std::string* why)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        *why = "missing, or not a regular file";
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    std::ostringstream whole;
    whole << file.rdbuf();
    if (!file.good() && !file.eof()) {
        *why = "a read failed";
        return false;
    }
    *bytes = whole.str();
    return true;
}

// Every LOG read before the database is touched: one that is not a log
// stops everything, so a slip on the command line imports nothing.
bool ReadLogs(const Options& options, std::vector<Run>* runs)
{
    bool good = true;
    for (const std::string& path : options.Logs) {
        std::string bytes, why;
        if (!ReadWhole(path, &bytes, &why)) {
            Refuse("can't read " + path + " (" + why + "): nothing was imported");
            good = false;
            continue;
        }
        LogReading reading = ReadLog(path, bytes);
        if (!reading.IsLog) {
            Refuse(path + " is not a ZAR log (it does not begin with \"ZAR-RUN \"): nothing was imported");
            good = false;
            continue;
        }
        for (const std::string& warning : reading.Warnings)
            std::cerr << "zar-records: " << ForTerminal(warning) << "\n";
        runs->insert(runs->end(), reading.Runs.begin(), reading.Runs.end());
    }
    return good;
}

bool SameFile(const std::string& a, const std::string& b)
{
    struct stat x, y;
    return stat(a.c_str(), &x) == 0 && stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

// A report replaces its file, but never a log, a database or an input: "--csv
// zar.log" must not cost a stick's records.
bool SafeOutput(const std::string& path, const Options& options)
{
    if (path.empty())
        return true;
    bool input = path == options.Database || SameFile(path, options.Database);
    for (const std::string& log : options.Logs)
        input = input || SameFile(path, log);
    std::string head(16, '\0');
    std::ifstream existing(path, std::ios::binary);
    existing.read(head.data(), static_cast<std::streamsize>(head.size()));
    if (input || head.starts_with("ZAR-RUN ") || head.starts_with(std::string("SQLite format 3\0", 16))) {
        Refuse(path + " is a ZAR log, a database or an input: a report never replaces one");
        return false;
    }
    return true;
}

// Written beside it, then renamed over it: a report is whole or not there.
bool WriteReport(const std::string& path, const std::string& text)
{
    std::string temporary = path + ".tmp" + std::to_string(getpid());
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file.good() || rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        Refuse("can't write " + path + " (" + std::strerror(errno) + ")");
        return false;
    }
    return true;
}

int Work(const Options& options)
{
    std::vector<Run> imported;
    if (!ReadLogs(options, &imported) || !SafeOutput(options.Csv, options) || !SafeOutput(options.Html, options))
        return EXIT_REFUSED;
    if (options.Logs.empty() && access(options.Database.c_str(), F_OK) != 0)
        return Refuse("no database " + options.Database + ": name the logs to import into it (see --help)");
    RunsDatabase database;
    std::string error;
    int added = 0;
    if (!database.Open(options.Database, !options.Logs.empty(), &error))
        return Refuse("the database " + options.Database + " can't be used: " + error);
    if (!options.Logs.empty()) {
        if (!database.Import(imported, &added, &error))
            return Refuse(options.Database + ": " + error + ": nothing was imported");
        std::cout << "Imported " << options.Logs.size() << " log(s), " << imported.size() << " record(s): " << added
                  << " new, " << imported.size() - static_cast<size_t>(added) << " already in "
                  << ForTerminal(options.Database) << "\n";
    }
    std::vector<Run> runs;
    if (!database.LoadAll(&runs, &error))
        return Refuse(options.Database + ": " + error);
    Summary summary = Summarise(runs, options.Rule);
    WriteText(std::cout, summary, options.Rule);
    std::ostringstream csv, html;
    if (!options.Csv.empty())
        WriteCsv(csv, runs);
    if (!options.Html.empty())
        WriteHtml(html, runs, summary, options.Rule, options.Database);
    if ((!options.Csv.empty() && !WriteReport(options.Csv, csv.str())) ||
        (!options.Html.empty() && !WriteReport(options.Html, html.str())))
        return EXIT_REFUSED;
    return summary.Stops.empty() ? 0 : EXIT_STOP_THE_LINE;
}

}  // namespace
}  // namespace zar::records

int main(int argc, char* argv[])
{
    zar::records::Options options;
    if (!zar::records::ParseOptions(argc, argv, &options))
        return zar::records::EXIT_REFUSED;
    if (options.Help) {
        zar::records::PrintUsage(std::cout);
        return 0;
    }
    return zar::records::Work(options);
}
