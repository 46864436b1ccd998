// zar-sweep: the EC stops answering at one port access after another, and
// the run the console then tells the user to make must put everything right.
//
// For each part (a page-program part, an AAI-word part, an AAI-byte part) a
// good run of a two-block image with a short last block is profiled: its port
// accesses are counted and sorted into kinds (module check, follow-mode
// entry, identification, EC sub-command, opcode, address, data byte, status
// poll after an erase or a program, status write, fast read, AAI mode, the
// stretch between the last verify and the closing command). Fault points are
// spread evenly over the run, plus a few of every kind. At each point the EC
// stops taking bytes (IBF never clears) or, separately, stops answering (OBF
// never sets). The first run must end with status 4, naming the wait and the
// block, send nothing that writes or closes after the fault, and leave the
// blocks it had not reached alone. Then, with the fault gone and the EC and
// chip exactly as that run left them, the command the console printed must
// end with status 0, the image in the chip and the EC closed by the closing
// rule. Every failure is printed with a zar-sim command line that shows it.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "Applications/Main/RunState.h"
#include "Applications/Main/Main.h"
#include "ec/EcChannel.h"
#include "flash/SpiOpcodes.h"
#include "platform/hosted/HostConsole.h"
#include "sim/ChipCatalog.h"
#include "sim/SimEc.h"
#include "sim/SimFrontEnd.h"
#include "sim/SimReport.h"
#include "sim/SpiNorChip.h"
#include "RunProfile.h"

namespace zar::sweep {
namespace {

constexpr uint32_t IMAGE_SIZE = 0x15A5B;  // a full block, then one that ends mid-page and mid-sector
constexpr const char* IMAGE_NAME = "zar-sweep.bin";
constexpr unsigned POINT_SECONDS = 20;    // far beyond any point's run; only a hang gets there

// ---- The simulated machine ---------------------------------------------------

struct Part {
    const sim::ChipInfo* Chip;
    const char* Method;
};

struct Options {
    int Points = 2000;   // spread evenly over the run, per part and kind of fault
    int PerKind = 16;    // more of every kind of access
    uint32_t WaitLimit = 1000;
    int Latency = 0;     // EC latency: random:N (seed 7) status reads, 0 for none
    std::vector<Part> Parts;
    bool Ibf = true, Obf = true;
    int Jobs = 1;        // worker processes
    bool Verbose = false;
};

// The first run's command lines: the closing rule of each is kept by the
// rerun the console advises.
struct Variant {
    std::vector<std::string> Words;
    sim::EcMode Closed;
};

const Variant VARIANTS[] = {
    {{IMAGE_NAME}, sim::EcMode::ClosedExit},
    {{IMAGE_NAME, "x", "y", "/j"}, sim::EcMode::ClosedExitAlt},
};

class Machine {
public:
    static constexpr uint64_t LATENCY_SEED = 7;
    int Latency = 0;

    void PowerUp(const Part& part, sim::ForeignByte foreign, const sim::EcFaults& faults)
    {
        flash_.resize(part.Chip->Part->Size);
        sim::FillPattern(flash_.data(), part.Chip->Part->Size);
        sim::EcConfig ec;
        ec.Foreign = foreign;
        ec.Faults = faults;
        if (Latency > 0) {
            ec.IbfDelay = {sim::ReadDelay::Random, static_cast<uint32_t>(Latency), LATENCY_SEED};
            ec.ObfDelay = ec.IbfDelay;
        }
        ec_.Init(ec);
        chip_.Init(*part.Chip, sim::ChipConfig{}, flash_.data(), &ec_.Clock());
        ec_.AttachChip(&chip_);
        // The EC holds the image's own module name, as zar-sim gives it.
        for (uint32_t i = 0; i < 32; ++i)
            ec_.Memory()[sim::SimEc::MODULE_NAME_ADDRESS + i] = Image()[0x50 + i];
    }

    int Run(const std::vector<std::string>& words, sim::TraceSink* sink, uint32_t waitLimit)
    {
        std::vector<std::string> storage = {"zar"};
        storage.insert(storage.end(), words.begin(), words.end());
        std::vector<char*> argv;
        for (std::string& word : storage)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        console_.output.clear();
        ec_.SetTrace(sink);
        hosted::SetConsoleSink(&console_);
        sim::SetActiveEc(&ec_);
        SetWaitLimits({waitLimit, waitLimit});
        int status = zar::main(static_cast<int>(storage.size()), argv.data());
        SetWaitLimits({0, 0});
        sim::SetActiveEc(nullptr);
        hosted::SetConsoleSink(nullptr);
        ec_.SetTrace(nullptr);
        return status;
    }

    void NextRun()
    {
        ec_.NextRun();
        chip_.NextRun();
    }

    static const std::vector<uint8_t>& Image()
    {
        static const std::vector<uint8_t> image = [] {
            std::vector<uint8_t> bytes(IMAGE_SIZE);
            for (uint32_t i = 0; i < IMAGE_SIZE; ++i)
                bytes[i] = static_cast<uint8_t>((i * 29) ^ (i >> 7) ^ 0x5A);
            const char name[] = "SWEEPMOD";
            for (uint32_t i = 0; i < 32; ++i)
                bytes[0x50 + i] = i < sizeof name - 1 ? static_cast<uint8_t>(name[i]) : ' ';
            return bytes;
        }();
        return image;
    }

    sim::SimEc& Ec() { return ec_; }
    const std::vector<uint8_t>& Flash() const { return flash_; }
    const std::string& Output() const { return console_.output; }

private:
    sim::SimEc ec_;
    sim::SpiNorChip chip_;
    std::vector<uint8_t> flash_;
    hosted::CaptureConsole console_;
};

// ---- One fault point ---------------------------------------------------------

// Watches the first run: what reaches the command port once the EC has
// stopped (it may take no closing command and no opcode that writes).
class AfterFault : public sim::TraceSink {
public:
    explicit AfterFault(sim::SimEc& ec) : ec_(ec) {}
    void Access(bool write, uint8_t port, uint8_t value) override
    {
        if (!write || port != EC_COMMAND_PORT)
            return;
        bool payload = payload_ != 0;
        bool opcode = payload_ == FOLLOW_OPCODE;
        payload_ = !payload && (value == FOLLOW_OPCODE || value == FOLLOW_WRITE) ? value : 0;
        if (ec_.Stats().StuckAt == 0)
            return;
        ++writes;
        if (!payload && (value == EC_CMD_FOLLOW_EXIT || value == EC_CMD_FOLLOW_EXIT_ALT))
            closing = true;
        if (opcode && Writes(value))
            writing = true;
    }

    static bool Writes(uint8_t opcode)
    {
        switch (opcode) {
        case WREN:
        case WRSR:
        case EWSR:
        case SECTOR_ERASE:
        case BLOCK_ERASE:
        case PAGE_PROGRAM:
        case AAI_BYTE_PROGRAM:
        case AAI_WORD_PROGRAM:
            return true;
        default:
            return false;
        }
    }

    uint64_t writes = 0;
    bool closing = false;
    bool writing = false;

private:
    sim::SimEc& ec_;
    uint8_t payload_ = 0;
};

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t at = 0;
    for (size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(text.substr(at, end - at));
    lines.push_back(text.substr(at));
    return lines;
}

std::vector<std::string> Words(const std::string& line)
{
    std::vector<std::string> words;
    size_t at = 0;
    while ((at = line.find_first_not_of(' ', at)) != std::string::npos) {
        size_t end = line.find(' ', at);
        words.push_back(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
        at = end;
    }
    return words;
}

// What the console says after a wait ran out: the wait and where, as the
// advice after it (module check, closing command) or the last block number
// it printed says.
std::string ExpectedNoAnswer(const std::string& output, bool ibf)
{
    std::string wait = ibf ? "EC input buffer" : "EC output buffer";
    size_t message = output.find("NO ANSWER!! ");
    const std::string label = "Block Number     : ";
    size_t block = output.rfind(label, message);
    std::string where = "before the first block.";
    if (output.find("The EC did not answer the module check.", message) != std::string::npos) {
        where = "at the module check.";
    } else if (output.find("The EC did not take the closing command", message) != std::string::npos) {
        where = "at the closing command.";
    } else if (block != std::string::npos) {
        size_t start = block + label.size();
        where = "at block " + output.substr(start, output.find(' ', start) - start) + ".";
    }
    return "NO ANSWER!! The " + wait + " wait ran out " + where;
}

struct Tally {
    uint64_t Points = 0;
    uint64_t KindPoints = 0;
    uint64_t Failures = 0;
    uint64_t Hangs = 0;
    uint64_t ClosingAfterFault = 0;
    uint64_t FalseSuccesses = 0;
    uint64_t RerunsGood = 0;

    void Add(const Tally& other)
    {
        Points += other.Points;
        KindPoints += other.KindPoints;
        Failures += other.Failures;
        Hangs += other.Hangs;
        ClosingAfterFault += other.ClosingAfterFault;
        FalseSuccesses += other.FalseSuccesses;
        RerunsGood += other.RerunsGood;
    }
};

unsigned long long Count(uint64_t n)
{
    return static_cast<unsigned long long>(n);
}

struct PointSetup {
    const Part* ThePart;
    bool Ibf;
    uint64_t Setting;  // writes (IBF) or answers (OBF) before the EC stops
    int Kind;
    const Variant* TheVariant;
    sim::ForeignByte Foreign;
};

std::string ReproLine(const PointSetup& p, const Options& options)
{
    std::string line = "zar-sim --chip " + std::string(p.ThePart->Chip->Part->Name) + " --wait-limit " +
                       std::to_string(options.WaitLimit) + " --ec-foreign " + sim::ForeignByteName(p.Foreign);
    if (options.Latency > 0)
        line += " --ec-latency random:" + std::to_string(options.Latency) + ":" +
                std::to_string(Machine::LATENCY_SEED);
    line += std::string(" --fault ") +
                       (p.Ibf ? "ec-ibf-stuck=" : "ec-obf-never=") + std::to_string(p.Setting) + " --rerun";
    for (const std::string& word : p.TheVariant->Words)
        line += " " + word;
    return line;
}

char gHangMessage[512];

void OnHang(int)
{
    ssize_t ignored = write(STDOUT_FILENO, gHangMessage, strlen(gHangMessage));
    (void)ignored;
    _exit(3);
}

// Runs one point; returns what went wrong ("" when nothing did).
std::string RunPoint(Machine& machine, const PointSetup& p, uint32_t waitLimit, Tally& tally)
{
    sim::EcFaults faults;
    (p.Ibf ? faults.IbfStuckAfterWrites : faults.ObfStuckAfterAnswers) = p.Setting;
    machine.PowerUp(*p.ThePart, p.Foreign, faults);

    // 1. The run the EC stops answering in.
    AfterFault watch(machine.Ec());
    int status = machine.Run(p.TheVariant->Words, &watch, waitLimit);
    const std::string output = machine.Output();
    std::string problems;
    auto fail = [&](const std::string& what) { problems += (problems.empty() ? "" : "; ") + what; };
    if (status == EXIT_OK) {
        ++tally.FalseSuccesses;
        fail("first run reported success");
    } else if (status != EXIT_NO_ANSWER) {
        fail("first run status " + std::to_string(status));
    }
    sim::EcMode mode = machine.Ec().Mode();
    if (watch.closing || mode == sim::EcMode::ClosedExit || mode == sim::EcMode::ClosedExitAlt) {
        ++tally.ClosingAfterFault;
        fail("closing command after the fault");
    }
    if (watch.writing)
        fail("a writing opcode after the fault");
    if (output.find(ExpectedNoAnswer(output, p.Ibf)) == std::string::npos)
        fail("no \"" + ExpectedNoAnswer(output, p.Ibf) + "\"");
    // Blocks after the one the fault stopped in are as they were.
    std::vector<uint8_t> before(machine.Flash().size());
    sim::FillPattern(before.data(), static_cast<uint32_t>(before.size()));
    size_t reached = output.find("at block 1.") != std::string::npos ? 2
                     : output.find("at block 0.") != std::string::npos ? 1 : 0;
    if (!std::equal(before.begin() + static_cast<long>(reached * BLOCK_SIZE), before.end(),
                    machine.Flash().begin() + static_cast<long>(reached * BLOCK_SIZE)))
        fail("a block the run never reached was changed");

    // 2. The command the console told the user to type, against the EC and
    //    the chip as they were left, the fault gone.
    std::vector<std::string> rerun;
    for (const std::string& line : Lines(output)) {
        if (line.rfind("  zar ", 0) == 0) {
            rerun = Words(line);
            break;
        }
    }
    if (rerun.empty())
        return problems + (problems.empty() ? "" : "; ") + "the console gave no command to run again";
    rerun.erase(rerun.begin());
    std::vector<std::string> storage = {"zar"};
    storage.insert(storage.end(), p.TheVariant->Words.begin(), p.TheVariant->Words.end());
    std::vector<char*> argv, advised(storage.size() + 1);
    for (std::string& word : storage)
        argv.push_back(word.data());
    int count = sim::RerunCommandLine(static_cast<int>(argv.size()), argv.data(), advised.data());
    if (std::vector<std::string>(advised.begin() + 1, advised.begin() + count) != rerun)
        fail("zar-sim's rerun differs from the console's");

    uint64_t afterClose = machine.Ec().Stats().AfterClose;
    machine.NextRun();
    status = machine.Run(rerun, nullptr, waitLimit);
    const std::vector<uint8_t>& image = Machine::Image();
    bool flashed = std::equal(image.begin(), image.end(), machine.Flash().begin());
    bool untouched = std::equal(before.begin() + 2 * BLOCK_SIZE, before.end(), machine.Flash().begin() + 2 * BLOCK_SIZE);
    if (status != EXIT_OK)
        fail("rerun status " + std::to_string(status));
    else if (!flashed)
        ++tally.FalseSuccesses;
    if (!flashed)
        fail("rerun left the chip unlike the image");
    if (!untouched)
        fail("rerun wrote past the image's blocks");
    if (machine.Ec().Mode() != p.TheVariant->Closed)
        fail(std::string("EC after the rerun: ") + sim::EcStateText(machine.Ec().Mode()));
    if (machine.Ec().Stats().AfterClose != afterClose)
        fail("accesses after the closing command");
    if (status == EXIT_OK && flashed && machine.Ec().Mode() == p.TheVariant->Closed)
        ++tally.RerunsGood;
    return problems;
}

// ---- The sweep ---------------------------------------------------------------

struct Profile {
    std::vector<Point> Picked;  // by kind
    uint64_t Writes, Answers;   // of the whole good run
};

Profile ProfileGoodRun(Machine& machine, const Part& part, const Options& options)
{
    machine.PowerUp(part, sim::ForeignByte::Ignore, {});
    Profiler profiler(machine.Ec());
    if (machine.Run({IMAGE_NAME}, &profiler, options.WaitLimit) != EXIT_OK) {
        fprintf(stderr, "zar-sweep: a good run on %s failed:\n%s\n", part.Chip->Part->Name, machine.Output().c_str());
        exit(2);
    }
    Profile profile{{}, machine.Ec().Stats().Writes, machine.Ec().Stats().Answers};
    printf("%s (%s): %llu port accesses, %llu writes and %llu answers in a good run\n", part.Chip->Part->Name, part.Method,
           Count(profiler.Accesses()), Count(profile.Writes), Count(profile.Answers));
    profiler.Locate(options.PerKind);
    machine.PowerUp(part, sim::ForeignByte::Ignore, {});
    machine.Run({IMAGE_NAME}, &profiler, options.WaitLimit);
    profile.Picked = profiler.Points();
    return profile;
}

// The fault settings: `spread` of them evenly over the run's writes (IBF) or
// answers (OBF), and those of the points picked by kind. Points on the same
// write or answer are one; a kind's name wins over "spread". Past the last
// write or answer a fault changes nothing.
std::vector<std::pair<uint64_t, int>> Settings(const Profile& profile, bool ibf, int spread)
{
    uint64_t total = ibf ? profile.Writes : profile.Answers;
    std::vector<std::pair<uint64_t, int>> settings;
    for (uint64_t i = 0; i < static_cast<uint64_t>(spread); ++i)
        settings.push_back({(2 * i + 1) * total / (2 * static_cast<uint64_t>(spread)), KIND_COUNT});
    for (const Point& point : profile.Picked)
        settings.push_back({std::min(ibf ? point.Writes : point.Answers, total - 1), point.Kind});
    std::sort(settings.begin(), settings.end());
    settings.erase(std::unique(settings.begin(), settings.end(),
                               [](const auto& a, const auto& b) { return a.first == b.first; }),
                   settings.end());
    return settings;
}

bool ParseOptions(int argc, char* argv[], Options* options)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto number = [&](int* out) {
            if (i + 1 >= argc)
                return false;
            char* end = nullptr;
            long value = strtol(argv[++i], &end, 10);
            if (*end || value < 0 || value > 1000000)
                return false;
            *out = static_cast<int>(value);
            return true;
        };
        int value = 0;
        if (arg == "--points" && number(&value)) {
            options->Points = value;
        } else if (arg == "--per-kind" && number(&value)) {
            options->PerKind = value;
        } else if (arg == "--jobs" && number(&value) && value > 0 && value <= 64) {
            options->Jobs = value;
        } else if (arg == "--ec-latency" && number(&value)) {
            options->Latency = value;
        } else if (arg == "--wait-limit" && number(&value) && value > 0) {
            options->WaitLimit = static_cast<uint32_t>(value);
        } else if (arg == "--part" && i + 1 < argc) {
            const sim::ChipInfo* chip = sim::FindChip(argv[++i]);
            if (chip == nullptr || !chip->FitsAlgorithms || chip->Part->Size < 2 * BLOCK_SIZE)
                return false;
            options->Parts.push_back({chip, chip->Method == sim::ProgramMethod::Page      ? "page program"
                                            : chip->Method == sim::ProgramMethod::AaiWord ? "AAI word"
                                                                                          : "AAI byte"});
        } else if (arg == "--fault" && i + 1 < argc) {
            std::string which = argv[++i];
            if (which != "ibf" && which != "obf")
                return false;
            options->Ibf = which == "ibf";
            options->Obf = which == "obf";
        } else if (arg == "--verbose") {
            options->Verbose = true;
        } else {
            return false;
        }
    }
    if (options->Parts.empty()) {
        for (const char* name : {"W25X40", "SST25VF080B", "SST25LF040A"})
            options->Parts.push_back({sim::FindChip(name), nullptr});
        options->Parts[0].Method = "page program";
        options->Parts[1].Method = "AAI word";
        options->Parts[2].Method = "AAI byte";
    }
    return true;
}

// The points n with n % jobs == job, in a child process: its tally goes back
// through `out`. A hang ends the child (and only it) with status 3.
[[noreturn]] void RunShare(Machine& machine, const Part& part, bool ibf,
                           const std::vector<std::pair<uint64_t, int>>& settings, int job, const Options& options,
                           int out)
{
    signal(SIGALRM, OnHang);
    Tally tally;
    for (size_t n = static_cast<size_t>(job); n < settings.size(); n += static_cast<size_t>(options.Jobs)) {
        PointSetup setup{&part, ibf, settings[n].first, settings[n].second, &VARIANTS[n % 2],
                         static_cast<sim::ForeignByte>(n / 2 % 4)};
        std::string repro = ReproLine(setup, options);
        snprintf(gHangMessage, sizeof gHangMessage, "HANG (over %u s): %s\n", POINT_SECONDS, repro.c_str());
        alarm(POINT_SECONDS);
        std::string problems = RunPoint(machine, setup, options.WaitLimit, tally);
        alarm(0);
        ++tally.Points;
        tally.KindPoints += setup.Kind != KIND_COUNT;
        const char* kind = KindName(setup.Kind);
        if (!problems.empty()) {
            ++tally.Failures;
            printf("FAIL %s %s (%s): %s\n  %s\n", part.Chip->Part->Name, ibf ? "ibf" : "obf", kind, problems.c_str(),
                   repro.c_str());
        } else if (options.Verbose) {
            printf("ok   %s %s (%s): %s\n", part.Chip->Part->Name, ibf ? "ibf" : "obf", kind, repro.c_str());
        }
        fflush(stdout);
    }
    ssize_t written = write(out, &tally, sizeof tally);
    _exit(written == static_cast<ssize_t>(sizeof tally) ? 0 : 2);
}

// All points of one part and one kind of fault, shared among the jobs.
Tally RunPoints(Machine& machine, const Part& part, bool ibf, const Profile& profile, const Options& options)
{
    std::vector<std::pair<uint64_t, int>> settings = Settings(profile, ibf, options.Points);
    Tally tally;
    std::vector<std::pair<pid_t, int>> children;
    fflush(stdout);
    for (int job = 0; job < options.Jobs; ++job) {
        int pipeEnds[2];
        if (pipe(pipeEnds) != 0) {
            perror("zar-sweep: pipe");
            exit(2);
        }
        pid_t child = fork();
        if (child == 0) {
            close(pipeEnds[0]);
            RunShare(machine, part, ibf, settings, job, options, pipeEnds[1]);
        }
        close(pipeEnds[1]);
        children.push_back({child, pipeEnds[0]});
    }
    for (auto [child, in] : children) {
        Tally share;
        bool got = read(in, &share, sizeof share) == static_cast<ssize_t>(sizeof share);
        close(in);
        int status = 0;
        waitpid(child, &status, 0);
        if (got) {
            tally.Add(share);
        } else {
            // The share ended early: a hang (its point is printed) or a crash.
            ++tally.Hangs;
            ++tally.Failures;
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 3)
                printf("FAIL %s %s: a worker ended with status %d\n", part.Chip->Part->Name, ibf ? "ibf" : "obf", status);
        }
    }
    printf("  %s: %llu points (%llu of them picked by kind), %llu failures, %llu reruns good\n",
           ibf ? "IBF never clears" : "OBF never sets", Count(tally.Points), Count(tally.KindPoints),
           Count(tally.Failures), Count(tally.RerunsGood));
    fflush(stdout);
    return tally;
}

int Sweep(int argc, char* argv[])
{
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        fprintf(stderr,
                "usage: zar-sweep [--points N] [--per-kind N] [--jobs N] [--wait-limit N] [--ec-latency N]"
                " [--part NAME]... [--fault ibf|obf] [--verbose]\n");
        return 64;
    }
    std::ofstream(IMAGE_NAME, std::ios::binary)
        .write(reinterpret_cast<const char*>(Machine::Image().data()), IMAGE_SIZE);
    char here[4096];
    printf("zar-sweep: image %s (%u bytes) in %s; run the zar-sim lines below there\n", IMAGE_NAME, IMAGE_SIZE,
           getcwd(here, sizeof here) ? here : ".");

    auto start = std::chrono::steady_clock::now();
    static Machine machine;
    machine.Latency = options.Latency;
    Tally total;
    for (const Part& part : options.Parts) {
        Profile profile = ProfileGoodRun(machine, part, options);
        if (options.Ibf)
            total.Add(RunPoints(machine, part, true, profile, options));
        if (options.Obf)
            total.Add(RunPoints(machine, part, false, profile, options));
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf("zar-sweep: %llu points on %zu parts in %.0f s: %llu failures, %llu hangs, %llu closing commands after a"
           " fault, %llu false successes; %llu of %llu reruns ended with status 0, the image in the chip and the EC"
           " closed\n",
           Count(total.Points), options.Parts.size(), seconds, Count(total.Failures), Count(total.Hangs),
           Count(total.ClosingAfterFault), Count(total.FalseSuccesses), Count(total.RerunsGood), Count(total.Points));
    return total.Failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace zar::sweep

int main(int argc, char* argv[])
{
    return zar::sweep::Sweep(argc, argv);
}
