#include "SweepPoint.h"

#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "Applications/Main/RunState.h"
#include "Applications/Main/UpdatePlan.h"
#include "ec/EcChannel.h"
#include "flash/SpiOpcodes.h"
#include "platform/Faults.h"
#include "tools/zar-sim/SimFrontEnd.h"
#include "tools/zar-sim/SimReport.h"

namespace zar::sweep {
namespace {

// ---- One fault point ---------------------------------------------------------

// Watches the first run: what reaches the command port once the EC has
// stopped (it may take no closing command and no opcode that writes), or
// from the start, for opcodes with any of `opcodes`' properties.
class AfterFault : public sim::TraceSink {
public:
    explicit AfterFault(sim::SimEc& ec, bool fromStart = false, uint16_t opcodes = OP_WRITES)
        : ec_(ec), fromStart_(fromStart), opcodes_(opcodes)
    {
    }
    void Access(bool write, uint8_t port, uint8_t value) override
    {
        if (!write || port != EC_COMMAND_PORT)
            return;
        bool payload = payload_ != 0;
        bool opcode = payload_ == FOLLOW_OPCODE;
        payload_ = !payload && (value == FOLLOW_OPCODE || value == FOLLOW_WRITE) ? value : 0;
        if (!fromStart_ && ec_.Stats().StuckAt == 0)
            return;
        ++writes;
        if (!payload && (value == EC_CMD_FOLLOW_EXIT || value == EC_CMD_FOLLOW_EXIT_ALT))
            closing = true;
        if (opcode && (SpiOpcodeProperties(value) & opcodes_))
            writing = true;
    }

    uint64_t writes = 0;
    bool closing = false;
    bool writing = false;

private:
    sim::SimEc& ec_;
    bool fromStart_;
    uint16_t opcodes_;
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

}  // namespace

namespace {

bool IsUpdate(const Variant& variant)
{
    return variant.Words[0] != IMAGE_NAME;
}

// The image as the chip must hold it after a good rerun of words: the kept
// ranges as they were before.
std::vector<uint8_t> Expected(const std::vector<std::string>& words, const std::vector<uint8_t>& before)
{
    std::vector<uint8_t> image = Machine::Image();
    for (auto [start, end] : KeptRanges(words)) {
        for (uint32_t at = start; at <= end && at < image.size(); ++at)
            image[at] = before[at];
    }
    return image;
}

void Complain(std::string& problems, const std::string& what)
{
    problems += (problems.empty() ? "" : "; ") + what;
}

// 1. The run the EC stops answering in.
void CheckStoppedRun(Machine& machine, const PointSetup& p, uint32_t waitLimit, Tally& tally, std::string& problems)
{
    AfterFault watch(machine.Ec());
    int status = machine.Run(p.TheVariant->Words, &watch, waitLimit);
    const std::string& output = machine.Output();
    if (status == EXIT_OK) {
        ++tally.FalseSuccesses;
        Complain(problems, "first run reported success");
    } else if (status != EXIT_NO_ANSWER) {
        Complain(problems, "first run status " + std::to_string(status));
    }
    sim::EcMode mode = machine.Ec().Mode();
    if (watch.closing || mode == sim::EcMode::ClosedExit || mode == sim::EcMode::ClosedExitAlt) {
        ++tally.ClosingAfterFault;
        Complain(problems, "closing command after the fault");
    }
    if (watch.writing)
        Complain(problems, "a writing opcode after the fault");
    // /update's read pass names the sector it read, with no "Block Number"
    // line before it: only the wait is checked there.
    bool ibf = p.Fault == FaultKind::Ibf;
    std::string said = IsUpdate(*p.TheVariant)
                           ? "NO ANSWER!! The " + std::string(ibf ? "EC input buffer" : "EC output buffer")
                           : ExpectedNoAnswer(output, ibf);
    if (output.find(said) == std::string::npos)
        Complain(problems, "no \"" + said + "\"");
    // Blocks after the one the fault stopped in are as they were; a stop at
    // the closing command came after every block.
    std::vector<uint8_t> before = FlashBefore(*p.TheVariant, static_cast<uint32_t>(machine.Flash().size()));
    size_t reached = output.find("at the closing command.") != std::string::npos ? before.size() / BLOCK_SIZE
                     : output.find("at block 1.") != std::string::npos                ? 2
                     : output.find("at block 0.") != std::string::npos                ? 1
                                                                                       : 0;
    if (!std::equal(before.begin() + static_cast<long>(reached * BLOCK_SIZE), before.end(),
                    machine.Flash().begin() + static_cast<long>(reached * BLOCK_SIZE)))
        Complain(problems, "a block the run never reached was changed");
}

// 1. (a full disk) The run whose backup does not fit: refused with status 2
//    and the file named, before anything is erased or programmed; the chip
//    as it was and no file left that could pass for a backup.
void CheckRefusedRun(Machine& machine, const PointSetup& p, uint32_t waitLimit, Tally& tally, std::string& problems)
{
    AfterFault watch(machine.Ec(), true, OP_ERASES | OP_PROGRAMS);
    SetWriteFailAfter(static_cast<int32_t>(p.Setting));
    int status = machine.Run(p.TheVariant->Words, &watch, waitLimit);
    SetWriteFailAfter(-1);
    if (status == EXIT_OK) {
        ++tally.FalseSuccesses;
        Complain(problems, "first run reported success");
    } else if (status != EXIT_BAD_IMAGE) {
        Complain(problems, "first run status " + std::to_string(status));
    }
    const std::string backup = BackupOf(*p.TheVariant);
    if (machine.Output().find("FILE WRITE ERROR!! " + backup) == std::string::npos)
        Complain(problems, "no \"FILE WRITE ERROR!! " + backup + "\"");
    if (watch.writing)
        Complain(problems, "an erase or program though the backup was not written");
    if (machine.Flash() != FlashBefore(*p.TheVariant, static_cast<uint32_t>(machine.Flash().size())))
        Complain(problems, "the chip changed");
    if (access(backup.c_str(), F_OK) == 0)
        Complain(problems, "a backup that is not whole was left");
}

// The command the first run's console told the user to type, without "zar";
// empty when it gave none.
std::vector<std::string> AdvisedCommand(const std::string& output)
{
    for (const std::string& line : Lines(output)) {
        if (line.rfind("  zar ", 0) == 0) {
            std::vector<std::string> words = Words(line);
            words.erase(words.begin());
            return words;
        }
    }
    return {};
}

// 2. That command, against the EC and the chip as they were left, the fault
//    gone. tailWarned: the first run said the bytes past the image's end in
//    its last erase unit were erased and may not be back.
void CheckAdvisedRun(Machine& machine, const PointSetup& p, const std::vector<std::string>& rerun, uint32_t waitLimit,
                     bool tailWarned, Tally& tally, std::string& problems)
{
    std::vector<std::string> storage = {"zar"};
    storage.insert(storage.end(), p.TheVariant->Words.begin(), p.TheVariant->Words.end());
    std::vector<char*> argv, advised(storage.size() + 2);
    for (std::string& word : storage)
        argv.push_back(word.data());
    int count = sim::RerunCommandLine(static_cast<int>(argv.size()), argv.data(), advised.data());
    if (std::vector<std::string>(advised.begin() + 1, advised.begin() + count) != rerun)
        Complain(problems, "zar-sim's rerun differs from the console's");

    uint64_t afterClose = machine.Ec().Stats().AfterClose;
    machine.NextRun();
    int status = machine.Run(rerun, nullptr, waitLimit);
    std::vector<uint8_t> before = FlashBefore(*p.TheVariant, static_cast<uint32_t>(machine.Flash().size()));
    std::vector<uint8_t> image = Expected(rerun, before);
    bool flashed = std::equal(image.begin(), image.end(), machine.Flash().begin());
    // The classic run erases its last block whole; /update changes nothing
    // past the image, but for a cut in its last erase unit, which it says.
    bool update = IsUpdate(*p.TheVariant);
    long from = !update ? 2 * BLOCK_SIZE : tailWarned ? UpdateCoverEnd(*p.ThePart) : IMAGE_SIZE;
    bool untouched = std::equal(before.begin() + from, before.end(), machine.Flash().begin() + from);
    if (status != EXIT_OK)
        Complain(problems, "rerun status " + std::to_string(status));
    else if (!flashed)
        ++tally.FalseSuccesses;
    if (!flashed)
        Complain(problems, "rerun left the chip unlike the image");
    if (!untouched)
        Complain(problems, IsUpdate(*p.TheVariant) ? "a byte past the image changed" : "rerun wrote past the image's blocks");
    if (machine.Ec().Mode() != p.TheVariant->Closed)
        Complain(problems, std::string("EC after the rerun: ") + sim::EcStateText(machine.Ec().Mode()));
    if (machine.Ec().Stats().AfterClose != afterClose)
        Complain(problems, "accesses after the closing command");
    bool saved = true;
    const std::string backup = BackupOf(*p.TheVariant);
    if (!backup.empty()) {
        std::ifstream in(backup, std::ios::binary);
        std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        saved = file.size() == UpdateCoverEnd(*p.ThePart) && std::equal(file.begin(), file.end(), before.begin());
        if (!saved)
            Complain(problems, "the backup is not the chip from before the first run");
        remove(backup.c_str());
    }
    if (status == EXIT_OK && flashed && saved && machine.Ec().Mode() == p.TheVariant->Closed)
        ++tally.RerunsGood;
}

}  // namespace

std::vector<std::pair<uint32_t, uint32_t>> KeptRanges(const std::vector<std::string>& words)
{
    std::vector<std::pair<uint32_t, uint32_t>> ranges;
    for (size_t i = 0; i + 1 < words.size(); ++i) {
        if (words[i] != "/keep")
            continue;
        size_t dash = words[i + 1].find('-');
        ranges.push_back({static_cast<uint32_t>(std::stoul(words[i + 1].substr(0, dash), nullptr, 16)),
                          static_cast<uint32_t>(std::stoul(words[i + 1].substr(dash + 1), nullptr, 16))});
    }
    return ranges;
}

uint32_t KeptBlocks(const Variant& variant)
{
    uint32_t blocks = 0;
    for (auto [start, end] : KeptRanges(variant.Words)) {
        for (auto block = static_cast<uint32_t>(start / BLOCK_SIZE); block <= end / BLOCK_SIZE && block < 32; ++block)
            blocks |= 1u << block;
    }
    return blocks;
}

// The index of the backup's file name among the words, 0 for none.
size_t BackupWord(const Variant& variant)
{
    for (size_t i = 0; i + 1 < variant.Words.size(); ++i) {
        if (variant.Words[i] == "/backup")
            return i + 1;
    }
    return 0;
}

std::string BackupOf(const Variant& variant)
{
    size_t at = BackupWord(variant);
    return at ? variant.Words[at] : "";
}

Variant ForThisProcess(const Variant& variant)
{
    Variant own = variant;
    if (size_t at = BackupWord(own))
        own.Words[at] = "zar-sweep-backup-" + std::to_string(getpid()) + ".bin";
    return own;
}

const FaultNames& NamesOf(FaultKind kind)
{
    static const FaultNames NAMES[] = {
        {"ibf", "ec-ibf-stuck", "IBF never clears"},
        {"obf", "ec-obf-never", "OBF never sets"},
        {"write", "write-fail", "the disk fills"},
    };
    return NAMES[static_cast<int>(kind)];
}

std::vector<uint8_t> FlashBefore(const Variant& variant, uint32_t size)
{
    std::vector<uint8_t> flash(size);
    sim::FillPattern(flash.data(), size);
    if (variant.Block1HoldsImage) {
        std::vector<uint8_t> image = Expected(variant.Words, flash);
        std::copy(image.begin() + BLOCK_SIZE, image.end(), flash.begin() + BLOCK_SIZE);
    }
    return flash;
}

uint32_t UpdateCoverEnd(const Part& part)
{
    const FlashPart& row = *part.Chip->Part;
    return CoverEnd(IMAGE_SIZE, {row.SectorEraseUnit == SECTOR_BYTES, row.BlockEraseUnit == BLOCK_SIZE});
}

std::string RunPoint(Machine& machine, const PointSetup& p, uint32_t waitLimit, Tally& tally)
{
    sim::EcFaults faults;
    if (p.Fault != FaultKind::Write)
        (p.Fault == FaultKind::Ibf ? faults.IbfStuckAfterWrites : faults.ObfStuckAfterAnswers) = p.Setting;
    machine.PowerUp(*p.ThePart, p.Foreign, faults, *p.TheVariant);
    const std::string backup = BackupOf(*p.TheVariant);
    if (!backup.empty())
        remove(backup.c_str());
    std::string problems;
    std::vector<std::string> rerun;
    if (p.Fault == FaultKind::Write) {
        // A refusal that hands the EC back gives no command: the user types
        // the same one again once the disk has room.
        CheckRefusedRun(machine, p, waitLimit, tally, problems);
        rerun = AdvisedCommand(machine.Output());
        if (rerun.empty())
            rerun = p.TheVariant->Words;
    } else {
        CheckStoppedRun(machine, p, waitLimit, tally, problems);
        rerun = AdvisedCommand(machine.Output());
    }
    if (rerun.empty()) {
        Complain(problems, "the console gave no command to run again");
        return problems;
    }
    bool tailWarned = machine.Output().find(", past the image's end, were erased") != std::string::npos;
    CheckAdvisedRun(machine, p, rerun, waitLimit, tailWarned, tally, problems);
    return problems;
}

}  // namespace zar::sweep
