// zar-sweep: the EC stops answering at one port access after another, and
// the run the console then tells the user to make must put everything right.
//
// For each part (a page-program part, an AAI-word part, an AAI-byte part) a
// good run of a two-block image with a short last block is profiled: its port
// accesses are counted and sorted into kinds (module check, follow-mode
// entry, identification, EC sub-command, opcode, address, data byte, status
// poll after an erase or a program, status write, fast read, AAI mode, the
// stretch between the last verify and the closing command). Fault points are
// spread evenly over the run, plus a few of every kind and each kind's last
// access. At each point the EC stops taking bytes (IBF never clears) or,
// separately, stops answering (OBF never sets). The first run must end with
// status 4, naming the wait and the block, send nothing that writes or
// closes after the fault, and leave the blocks it had not reached alone. Then, with the fault gone and the EC and
// chip exactly as that run left them, the command the console printed must
// end with status 0, the image in the chip and the EC closed by the closing
// rule. Every failure is printed with a zar-sim command line that shows it.
//
// /update is swept the same way on the page-program and AAI-word parts, each
// of its command lines profiled on its own: plain, with a kept sector, and
// with a backup. Its reruns must leave the image outside the kept sector,
// the kept sector as it was, and the backup file holding the chip from
// before the first run. The line with a backup is also run on a disk that
// fills up part way through the backup: refused before anything is erased or
// programmed, no file left, and the same command then good once there is room.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "Applications/Main/RunState.h"
#include "Applications/Main/Main.h"
#include "sim/ChipCatalog.h"
#include "tools/zar-sim/SimFrontEnd.h"
#include "RunProfile.h"
#include "SweepPoint.h"

namespace zar::sweep {
namespace {

constexpr unsigned POINT_SECONDS = 20;    // far beyond any point's run; only a hang gets there

struct Options {
    int Points = 2000;   // spread evenly over the run, per part and kind of fault
    bool PartsGiven = false;
    int PerKind = 16;    // more of every kind of access
    uint32_t WaitLimit = 1000;
    int Latency = 0;     // EC latency: random:N (seed 7) status reads, 0 for none
    std::vector<Part> Parts;
    bool Ibf = true, Obf = true, Write = true;
    int Jobs = 1;        // worker processes
    bool Verbose = false;
};

unsigned long long Count(uint64_t n)
{
    return static_cast<unsigned long long>(n);
}

// The chip a line that starts from more than the fill pattern powers up
// with, for its zar-sim lines.
std::string FlashInName(const Part& part)
{
    return std::string("zar-sweep-") + part.Chip->Part->Name + "-in.bin";
}

void WriteFlashIn(const Part& part, const Variant& variant)
{
    std::vector<uint8_t> flash = FlashBefore(variant, part.Chip->Part->Size);
    std::ofstream(FlashInName(part), std::ios::binary)
        .write(reinterpret_cast<const char*>(flash.data()), static_cast<std::streamsize>(flash.size()));
}

std::string ReproLine(const PointSetup& p, const Options& options)
{
    std::string line = "zar-sim --chip " + std::string(p.ThePart->Chip->Part->Name) + " --wait-limit " +
                       std::to_string(options.WaitLimit) + " --ec-foreign " + sim::ForeignByteName(p.Foreign);
    if (options.Latency > 0)
        line += " --ec-latency random:" + std::to_string(options.Latency) + ":" +
                std::to_string(Machine::LATENCY_SEED);
    if (p.TheVariant->Block1HoldsImage)
        line += " --flash-in " + FlashInName(*p.ThePart);
    line += std::string(" --fault ") + NamesOf(p.Fault).ZarSim + "=" + std::to_string(p.Setting) + " --rerun";
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

// ---- The sweep ---------------------------------------------------------------

struct Profile {
    std::vector<Point> Picked;  // by kind
    uint64_t Writes, Answers;   // of the whole good run
    uint64_t FileBytes;         // the backup file's size after it
};

uint64_t FileSize(const std::string& name)
{
    struct stat info;
    return !name.empty() && stat(name.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

Profile ProfileGoodRun(Machine& machine, const Part& part, const Options& options, const Variant& variant)
{
    const std::string backup = BackupOf(variant);
    remove(backup.c_str());
    machine.PowerUp(part, sim::ForeignByte::Ignore, {}, variant);
    Profiler profiler(machine.Ec(), KeptBlocks(variant));
    if (machine.Run(variant.Words, &profiler, options.WaitLimit) != EXIT_OK) {
        fprintf(stderr, "zar-sweep: a good run on %s failed:\n%s\n", part.Chip->Part->Name, machine.Output().c_str());
        exit(2);
    }
    Profile profile{{}, machine.Ec().Stats().Writes, machine.Ec().Stats().Answers, FileSize(backup)};
    std::string line;
    for (const std::string& word : variant.Words)
        line += (line.empty() ? "" : " ") + word;
    printf("%s (%s), %s: %llu port accesses, %llu writes and %llu answers in a good run\n", part.Chip->Part->Name,
           part.Method, line.c_str(), Count(profiler.Accesses()), Count(profile.Writes), Count(profile.Answers));
    profiler.Locate(options.PerKind);
    remove(backup.c_str());
    machine.PowerUp(part, sim::ForeignByte::Ignore, {}, variant);
    machine.Run(variant.Words, &profiler, options.WaitLimit);
    remove(backup.c_str());
    profile.Picked = profiler.Points();
    return profile;
}

// The fault settings: `spread` of them evenly over the run's writes (IBF),
// answers (OBF) or the bytes of its backup (a full disk), and those of the
// points picked by kind, or for a full disk its edges: nothing fits, or all
// but the last byte. Points on the same setting are one; a kind's name wins
// over "spread". Past the last write, answer or byte a fault changes nothing.
std::vector<std::pair<uint64_t, int>> Settings(const Profile& profile, FaultKind fault, int spread)
{
    bool disk = fault == FaultKind::Write;
    uint64_t total = disk ? profile.FileBytes : fault == FaultKind::Ibf ? profile.Writes : profile.Answers;
    std::vector<std::pair<uint64_t, int>> settings;
    if (total == 0)
        return settings;
    for (uint64_t i = 0; i < static_cast<uint64_t>(spread); ++i)
        settings.push_back({(2 * i + 1) * total / (2 * static_cast<uint64_t>(spread)), KIND_COUNT});
    if (disk)
        settings.insert(settings.end(), {{0, KIND_COUNT}, {total - 1, KIND_COUNT}});
    for (const Point& point : disk ? std::vector<Point>{} : profile.Picked)
        settings.push_back({std::min(fault == FaultKind::Ibf ? point.Writes : point.Answers, total - 1), point.Kind});
    std::sort(settings.begin(), settings.end());
    settings.erase(std::unique(settings.begin(), settings.end(),
                               [](const auto& a, const auto& b) { return a.first == b.first; }),
                   settings.end());
    return settings;
}

const char* MethodName(const sim::ChipInfo& chip)
{
    return chip.Method == sim::ProgramMethod::Page      ? "page program"
           : chip.Method == sim::ProgramMethod::AaiWord ? "AAI word"
                                                        : "AAI byte";
}

bool ErasesOnlyBlocks(const Part& part)
{
    return part.Chip->Part->SectorEraseUnit == 0 && part.Chip->Part->BlockEraseUnit == BLOCK_SIZE;
}

// The parts /update is swept on: those of the classic lines but the AAI-byte
// one, and, unless parts were named, one that erases only whole blocks.
std::vector<Part> UpdateParts(const Options& options)
{
    std::vector<Part> parts;
    for (const Part& part : options.Parts) {
        if (part.Chip->Method != sim::ProgramMethod::AaiByte)
            parts.push_back(part);
    }
    if (!options.PartsGiven) {
        const sim::ChipInfo* blocks = sim::FindChip("M25P40");
        parts.push_back({blocks, MethodName(*blocks)});
    }
    return parts;
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
            options->Parts.push_back({chip, MethodName(*chip)});
            options->PartsGiven = true;
        } else if (arg == "--fault" && i + 1 < argc) {
            std::string which = argv[++i];
            if (which != "ibf" && which != "obf" && which != "write")
                return false;
            options->Ibf = which == "ibf";
            options->Obf = which == "obf";
            options->Write = which == "write";
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
[[noreturn]] void RunShare(Machine& machine, const Part& part, FaultKind fault,
                           const std::vector<std::pair<uint64_t, int>>& settings, const std::vector<Variant>& variants,
                           int job, const Options& options, int out)
{
    signal(SIGALRM, OnHang);
    Tally tally;
    std::vector<Variant> own;
    for (const Variant& variant : variants)
        own.push_back(ForThisProcess(variant));
    for (size_t n = static_cast<size_t>(job); n < settings.size(); n += static_cast<size_t>(options.Jobs)) {
        PointSetup setup{&part, fault, settings[n].first, settings[n].second, &own[n % own.size()],
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
            printf("FAIL %s %s (%s): %s\n  %s\n", part.Chip->Part->Name, NamesOf(fault).Option, kind, problems.c_str(),
                   repro.c_str());
        } else if (options.Verbose) {
            printf("ok   %s %s (%s): %s\n", part.Chip->Part->Name, NamesOf(fault).Option, kind, repro.c_str());
        }
        fflush(stdout);
    }
    ssize_t written = write(out, &tally, sizeof tally);
    _exit(written == static_cast<ssize_t>(sizeof tally) ? 0 : 2);
}

// All points of one part and one kind of fault, shared among the jobs.
Tally RunPoints(Machine& machine, const Part& part, FaultKind fault, const Profile& profile, const Options& options,
                const std::vector<Variant>& variants, int points)
{
    std::vector<std::pair<uint64_t, int>> settings = Settings(profile, fault, points);
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
            RunShare(machine, part, fault, settings, variants, job, options, pipeEnds[1]);
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
                printf("FAIL %s %s: a worker ended with status %d\n", part.Chip->Part->Name, NamesOf(fault).Option,
                       status);
        }
    }
    printf("  %s: %llu points (%llu of them picked by kind), %llu failures, %llu reruns good\n",
           NamesOf(fault).Heading, Count(tally.Points), Count(tally.KindPoints),
           Count(tally.Failures), Count(tally.RerunsGood));
    fflush(stdout);
    return tally;
}

// The faults swept on a command line: a full disk only where it writes a
// file.
std::vector<FaultKind> FaultsFor(const Options& options, const Variant& variant)
{
    std::vector<FaultKind> faults;
    if (options.Ibf)
        faults.push_back(FaultKind::Ibf);
    if (options.Obf)
        faults.push_back(FaultKind::Obf);
    if (options.Write && !BackupOf(variant).empty())
        faults.push_back(FaultKind::Write);
    return faults;
}

int Sweep(int argc, char* argv[])
{
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        fprintf(stderr,
                "usage: zar-sweep [--points N] [--per-kind N] [--jobs N] [--wait-limit N] [--ec-latency N]"
                " [--part NAME]... [--fault ibf|obf|write] [--verbose]\n");
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
        std::vector<FaultKind> faults = FaultsFor(options, VARIANTS[0]);
        Profile profile = faults.empty() ? Profile{} : ProfileGoodRun(machine, part, options, VARIANTS[0]);
        for (FaultKind fault : faults)
            total.Add(RunPoints(machine, part, fault, profile, options, VARIANTS, options.Points));
    }
    // /update on the parts it is swept on; half the points for each of its lines.
    for (const Part& part : UpdateParts(options)) {
        for (const Variant& variant : ErasesOnlyBlocks(part) ? BLOCK_ONLY_VARIANTS : UPDATE_VARIANTS) {
            std::vector<FaultKind> faults = FaultsFor(options, variant);
            if (faults.empty())
                continue;
            if (variant.Block1HoldsImage)
                WriteFlashIn(part, variant);
            Profile profile = ProfileGoodRun(machine, part, options, variant);
            for (FaultKind fault : faults)
                total.Add(RunPoints(machine, part, fault, profile, options, {variant}, (options.Points + 1) / 2));
        }
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf("zar-sweep: %llu points on %zu parts in %.0f s: %llu failures, %llu hangs, %llu closing commands after a"
           " fault, %llu false successes; %llu of %llu reruns ended with status 0, the image in the chip and the EC"
           " closed\n",
           Count(total.Points), options.Parts.size() + (options.PartsGiven ? 0 : 1), seconds, Count(total.Failures), Count(total.Hangs),
           Count(total.ClosingAfterFault), Count(total.FalseSuccesses), Count(total.RerunsGood), Count(total.Points));
    return total.Failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace zar::sweep

int main(int argc, char* argv[])
{
    return zar::sweep::Sweep(argc, argv);
}
