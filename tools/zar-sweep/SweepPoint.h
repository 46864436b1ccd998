// zar-sweep's simulated machine and one fault point: the run the EC stops
// answering in, then the run the console advises, each checked.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "Applications/Main/Main.h"
#include "ec/EcChannel.h"
#include "ec/ModuleName.h"
#include "platform/hosted/HostConsole.h"
#include "sim/ChipCatalog.h"
#include "sim/SimEc.h"
#include "sim/SimMachine.h"

namespace zar::sweep {

constexpr uint32_t IMAGE_SIZE = 0x15A5B;  // a full block, then one that ends mid-page and mid-sector
constexpr const char* IMAGE_NAME = "zar-sweep.bin";

struct Part {
    const sim::ChipInfo* Chip;
    const char* Method;
};

// The first run's command lines: the closing rule of each is kept by the
// rerun the console advises. Block1HoldsImage: the chip starts out with the
// image in block 1, but for the kept ranges (elsewhere the fill pattern).
struct Variant {
    std::vector<std::string> Words;
    sim::EcMode Closed;
    bool Block1HoldsImage = false;
};

inline const std::vector<Variant> VARIANTS = {
    {{IMAGE_NAME}, sim::EcMode::ClosedExit},
    {{IMAGE_NAME, "x", "y", "/j"}, sim::EcMode::ClosedExitAlt},
};

// /update's: the kept sector lies in the image's second block, which is
// written around it; each worker gives the backup a name of its own.
inline const std::vector<Variant> UPDATE_VARIANTS = {
    {{"/update", IMAGE_NAME}, sim::EcMode::ClosedExit},
    {{"/keep", "11000-11FFF", "/update", IMAGE_NAME, "x", "y", "/j"}, sim::EcMode::ClosedExitAlt},
    {{"/backup", "zar-sweep-backup.bin", "/update", IMAGE_NAME}, sim::EcMode::ClosedExit},
};

// On a part that erases only whole 64 KiB blocks, a block that holds a kept
// range is never written: the line keeps a sector of block 1, which holds the
// image around it, while block 0 and the backup (to block 1's end) are written.
inline const std::vector<Variant> BLOCK_ONLY_VARIANTS = {
    {{"/keep", "10000-10FFF", "/backup", "zar-sweep-backup.bin", "/update", IMAGE_NAME}, sim::EcMode::ClosedExit,
     true},
};

// The ranges the command's "/keep" words keep, END inclusive.
std::vector<std::pair<uint32_t, uint32_t>> KeptRanges(const std::vector<std::string>& words);
// Bit b for each 64 KiB block b that holds a kept range.
uint32_t KeptBlocks(const Variant& variant);
// The variant's backup file, or "" for none.
std::string BackupOf(const Variant& variant);
// The chip as it powers up for the variant.
std::vector<uint8_t> FlashBefore(const Variant& variant, uint32_t size);
// Where the bytes an /update of the sweep's image may erase end on the part:
// what its backup holds.
uint32_t UpdateCoverEnd(const Part& part);
// The variant with the backup named for this process, so workers never share one.
Variant ForThisProcess(const Variant& variant);

class Machine {
public:
    static constexpr uint64_t LATENCY_SEED = 7;
    int Latency = 0;

    void PowerUp(const Part& part, sim::ForeignByte foreign, const sim::EcFaults& faults, const Variant& variant)
    {
        sim::MachineSetup setup;
        setup.Chip = part.Chip;
        setup.Ec.Foreign = foreign;
        setup.Ec.Faults = faults;
        if (Latency > 0) {
            setup.Ec.IbfDelay = {sim::ReadDelay::Random, static_cast<uint32_t>(Latency), LATENCY_SEED};
            setup.Ec.ObfDelay = setup.Ec.IbfDelay;
        }
        flash_ = FlashBefore(variant, part.Chip->Part->Size);
        machine_.PowerUp(setup, flash_.data());
        // The EC holds the image's own module name, as zar-sim gives it.
        machine_.SetModuleName(Image().data() + MODULE_NAME_OFFSET, MODULE_NAME_LENGTH);
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
        machine_.Ec().SetTrace(sink);
        hosted::SetConsoleSink(&console_);
        sim::SetActiveEc(&machine_.Ec());
        SetWaitLimits({waitLimit, waitLimit});
        int status = zar::main(static_cast<int>(storage.size()), argv.data());
        SetWaitLimits({0, 0});
        sim::SetActiveEc(nullptr);
        hosted::SetConsoleSink(nullptr);
        machine_.Ec().SetTrace(nullptr);
        return status;
    }

    void NextRun() { machine_.NextRun(); }

    static const std::vector<uint8_t>& Image()
    {
        static const std::vector<uint8_t> image = [] {
            std::vector<uint8_t> bytes(IMAGE_SIZE);
            for (uint32_t i = 0; i < IMAGE_SIZE; ++i)
                bytes[i] = static_cast<uint8_t>((i * 29) ^ (i >> 7) ^ 0x5A);
            const char name[] = "SWEEPMOD";
            for (uint32_t i = 0; i < MODULE_NAME_LENGTH; ++i)
                bytes[MODULE_NAME_OFFSET + i] = i < sizeof name - 1 ? static_cast<uint8_t>(name[i]) : ' ';
            return bytes;
        }();
        return image;
    }

    sim::SimEc& Ec() { return machine_.Ec(); }
    const std::vector<uint8_t>& Flash() const { return flash_; }
    const std::string& Output() const { return console_.output; }

private:
    sim::SimMachine machine_;
    std::vector<uint8_t> flash_;
    hosted::CaptureConsole console_;
};

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

// What goes wrong at a point: the EC stops taking bytes (IBF never clears)
// or answering (OBF never sets), or the disk the flasher writes its files to
// fills up.
enum class FaultKind : uint8_t { Ibf, Obf, Write };

struct FaultNames {
    const char* Option;   // --fault's word for it
    const char* ZarSim;   // zar-sim's --fault, up to its value
    const char* Heading;  // the tally's
};
const FaultNames& NamesOf(FaultKind kind);

struct PointSetup {
    const Part* ThePart;
    FaultKind Fault;
    uint64_t Setting;  // writes (IBF) or answers (OBF) before the EC stops; bytes the files take (Write)
    int Kind;
    const Variant* TheVariant;
    sim::ForeignByte Foreign;
};

// Runs one point; returns what went wrong ("" when nothing did).
std::string RunPoint(Machine& machine, const PointSetup& p, uint32_t waitLimit, Tally& tally);

}  // namespace zar::sweep
