#include "tools/zar-sim/SimOptions.h"

#include "Applications/Main/Version.h"
#include "platform/Platform.h"
#include "platform/Text.h"

namespace zar::sim {
namespace {



bool ParseDelay(const char* text, ReadDelay* delay)
{
    size_t nameLength;
    const char* rest = SplitAt(text, ':', &nameLength);
    uint64_t count = 0, seed = 1;
    if (PrefixEqual(text, nameLength, "zero") && rest == nullptr) {
        *delay = ReadDelay{ReadDelay::Zero, 0, 1};
        return true;
    }
    if (rest == nullptr)
        return false;
    size_t countLength;
    const char* seedText = SplitAt(rest, ':', &countLength);
    char countText[24];
    if (countLength == 0 || countLength >= sizeof countText)
        return false;
    MemCopy(countText, rest, countLength);
    countText[countLength] = 0;
    if (!ParseNumber(countText, &count) || count > UINT32_MAX)
        return false;
    if (PrefixEqual(text, nameLength, "fixed") && seedText == nullptr) {
        *delay = ReadDelay{ReadDelay::Fixed, static_cast<uint32_t>(count), 1};
        return true;
    }
    if (PrefixEqual(text, nameLength, "random") && (seedText == nullptr || ParseNumber(seedText, &seed))) {
        *delay = ReadDelay{ReadDelay::Random, static_cast<uint32_t>(count), seed};
        return true;
    }
    return false;
}


bool Refuse(const char* what, const char* option)
{
    Print(u"zar-sim: %a: %a (see --help)\n", what, option);
    return false;
}

// "MAKER,PRODUCT,SERIAL": three parts, each at most IDENTITY_TEXT_MAX bytes.
bool ParseMachine(const char* text, MachineIdentity* machine)
{
    char (*fields[3])[IDENTITY_TEXT_MAX + 1] = {&machine->Manufacturer, &machine->ProductName,
                                                &machine->SerialNumber};
    for (int i = 0; i < 3; ++i) {
        size_t length;
        const char* rest = SplitAt(text, ',', &length);
        if (length > IDENTITY_TEXT_MAX || (i < 2) != (rest != nullptr))
            return false;
        CopyIdentityText(*fields[i], text, length);
        text = rest;
    }
    return true;
}

constexpr const char* FOREIGN_NAMES[] = {"ignore", "subcommand", "serve", "leave"};  // in ForeignByte's order

bool ParseForeign(const char* text, ForeignByte* how)
{
    for (size_t i = 0; i < sizeof FOREIGN_NAMES / sizeof FOREIGN_NAMES[0]; ++i) {
        if (TextEqual(text, FOREIGN_NAMES[i])) {
            *how = static_cast<ForeignByte>(i);
            return true;
        }
    }
    return false;
}


// Real timing: every access advances the virtual clock, the EC's response
// time becomes status reads at that pace, and the chip is busy for its
// part's typical times. Fast timing keeps every wait a small count of reads.
bool ApplyTiming(SimOptions* options)
{
    if (!options->RealTiming) {
        if (options->TimesGiven)
            return Refuse("--access-ns and --ec-response-ns need", "--timing real");
        return true;
    }
    if (options->BusyGiven)
        return Refuse("under real timing the part's own times apply; drop", "--chip-busy");
    options->Ec.AccessNs = options->AccessNs;
    if (!options->LatencyGiven) {
        uint32_t reads = (options->EcResponseNs + options->AccessNs - 1) / options->AccessNs;
        ReadDelay delay = reads ? ReadDelay{ReadDelay::Fixed, reads, 1} : ReadDelay{};
        options->Ec.IbfDelay = delay;
        options->Ec.ObfDelay = delay;
    }
    options->ChipSetup.RealTiming = true;
    return true;
}

// ---- The options ---------------------------------------------------------

// DATA,STATUS: the two bytes every read of the data and status ports returns.
bool StoreConstant(SimOptions* o, const char* text, uint64_t)
{
    size_t dataLength;
    const char* status = SplitAt(text, ',', &dataLength);
    char data[8] = {};
    uint64_t dataByte = 0;
    uint64_t statusByte = 0;
    if (status && dataLength < sizeof data)
        MemCopy(data, text, dataLength);
    if (!ParseNumber(data, &dataByte) || dataByte > 0xFF || !ParseNumber(status, &statusByte) || statusByte > 0xFF)
        return false;
    o->Ec.Constant = {true, static_cast<uint8_t>(dataByte), static_cast<uint8_t>(statusByte)};
    return true;
}

bool Store(const char** where, const char* text)
{
    *where = text;
    return true;
}

bool StoreTiming(SimOptions* o, const char* text, uint64_t)
{
    if (!TextEqual(text, "fast") && !TextEqual(text, "real"))
        return false;
    o->RealTiming = TextEqual(text, "real");
    return true;
}

// 24-bit addresses reach 16 MiB; below 64 KiB not one block fits.
bool StoreChipSize(SimOptions* o, const char*, uint64_t size)
{
    if (size & (size - 1))
        return false;
    o->ChipSize = static_cast<uint32_t>(size);
    return true;
}

bool StoreMachine(SimOptions* o, const char* text, uint64_t)
{
    if (!ParseMachine(text, &o->Machine))
        return false;
    o->MachineGiven = true;
    return true;
}

bool StoreStation(SimOptions* o, const char* text, uint64_t)
{
    size_t length = 0;
    while (text[length])
        ++length;
    o->Station = text;
    return length <= IDENTITY_TEXT_MAX;
}

bool StoreChip(SimOptions* o, const char* text, uint64_t)
{
    o->Chip = FindChip(text);
    return o->Chip != nullptr;
}

bool StoreLatency(SimOptions* o, const char* text, uint64_t)
{
    if (!ParseDelay(text, &o->Ec.IbfDelay))
        return false;
    o->Ec.ObfDelay = o->Ec.IbfDelay;
    o->LatencyGiven = true;
    return true;
}

bool StoreBusy(SimOptions* o, const char* text, uint64_t)
{
    if (!ParseDelay(text, &o->ChipSetup.Busy))
        return false;
    o->BusyGiven = true;
    return true;
}

// The help's defaults are written out; these are the values they state.
static_assert(DEFAULT_ACCESS_NS == 1000 && DEFAULT_EC_RESPONSE_NS == 2000);
static_assert(MIN_ACCESS_NS == 100 && MAX_ACCESS_NS == 1000000000 && MAX_EC_RESPONSE_NS == 1000000);

// What follows an option on the command line.
enum class ValueKind : uint8_t {
    None,    // a switch
    Text,    // any word; Store says whether it can be used
    Number,  // decimal or 0x hex within [Min, Max]
};

struct OptionRow {
    const char* Name;       // "--chip"
    const char* ValueName;  // "NAME", as --help shows it; nullptr for a switch
    ValueKind Kind;
    uint64_t Min, Max;      // a Number's bounds
    const char* Refusal;    // "bad chip size": a value that can't be used
    const char* OutOfBounds;  // a Number outside its bounds; nullptr: Refusal
    // Stores the value (text, and for a Number its value); false refuses it.
    bool (*Store)(SimOptions* options, const char* text, uint64_t number);
    const char* Help;  // lines separated by '\n'
};

using K = ValueKind;
constexpr OptionRow OPTIONS[] = {
    {"--chip", "NAME", K::Text, 0, 0, "unknown chip", nullptr, StoreChip,
     "the flash chip (see --list-chips; default W25X40)"},
    {"--list-chips", nullptr, K::None, 0, 0, nullptr, nullptr,
     [](SimOptions* o, const char*, uint64_t) { return o->ListChips = true; },
     "list the simulated parts and exit"},
    {"--verbose", nullptr, K::None, 0, 0, nullptr, nullptr,
     [](SimOptions* o, const char*, uint64_t) { return o->Verbose = true; },
     "with --list-chips: each part's documents, and its values they don't confirm"},
    {"--flash-in", "FILE", K::Text, 0, 0, nullptr, nullptr,
     [](SimOptions* o, const char* text, uint64_t) { return Store(&o->FlashIn, text); },
     "the chip's contents before the run (default: a fixed pattern)"},
    {"--flash-out", "FILE", K::Text, 0, 0, nullptr, nullptr,
     [](SimOptions* o, const char* text, uint64_t) { return Store(&o->FlashOut, text); },
     "write the chip's contents after the run to FILE"},
    {"--ec-module", "TEXT", K::Text, 0, 0, nullptr, nullptr,
     [](SimOptions* o, const char* text, uint64_t) { return Store(&o->EcModule, text); },
     "the EC's module name (default: the image's own, at 0x50)"},
    {"--machine", "MAKER,PRODUCT,SERIAL", K::Text, 0, 0,
     "--machine is MANUFACTURER,PRODUCT,SERIAL, each at most 64 bytes", nullptr, StoreMachine,
     "the machine's SMBIOS identity in the /log record (default: the\n"
     "firmware's under UEFI, unknown on Linux; an empty part is unknown)"},
    {"--station", "NAME", K::Text, 0, 0, "--station is at most 64 bytes, not", nullptr, StoreStation,
     "the station named in the /log record (default: the Shell variable\n"
     "zar_station under UEFI, none on Linux)"},
    {"--chip-size", "BYTES", K::Number, 0x10000, 0x1000000, "bad chip size", nullptr, StoreChipSize,
     "give the chip another size: a power of two, 64 KiB to 16 MiB\n"
     "(its RDID capacity byte becomes N for 2^N bytes)"},
    {"--trace", "FILE", K::Text, 0, 0, nullptr, nullptr,
     [](SimOptions* o, const char* text, uint64_t) { return Store(&o->TracePath, text); },
     "write every port access to FILE ('in 66 02', 'out 62 08')"},
    {"--spi-log", "FILE", K::Text, 0, 0, nullptr, nullptr,
     [](SimOptions* o, const char* text, uint64_t) { return Store(&o->SpiLogPath, text); },
     "write the run decoded: one line per EC command or SPI transaction"},
    {"--decode", "TRACE", K::Text, 0, 0, nullptr, nullptr,
     [](SimOptions* o, const char* text, uint64_t) { return Store(&o->DecodePath, text); },
     "decode a trace written by --trace (to --spi-log FILE, or the console)"},
    {"--report", nullptr, K::None, 0, 0, nullptr, nullptr,
     [](SimOptions* o, const char*, uint64_t) { return o->Report = true; },
     "after the run: chip, EC state, flash against image, accesses, exit status"},
    {"--timing", "fast|real", K::Text, 0, 0, "timing is fast or real", nullptr, StoreTiming,
     "real: the EC and chip take the hardware's time on a virtual clock, and\n"
     "the run ends with the time it would take (default fast)"},
    {"--access-ns", "N", K::Number, MIN_ACCESS_NS, MAX_ACCESS_NS, "bad time in ns", "an access takes 100 ns to 1 s",
     [](SimOptions* o, const char*, uint64_t ns) {
         o->AccessNs = static_cast<uint32_t>(ns);
         return o->TimesGiven = true;
     },
     "real timing: ns per port access, 100 to 10^9 (default 1000, an LPC I/O cycle)"},
    {"--ec-response-ns", "N", K::Number, 0, MAX_EC_RESPONSE_NS, "bad time in ns",
     "an EC answers within 1 ms (1000000 ns)",
     [](SimOptions* o, const char*, uint64_t ns) {
         o->EcResponseNs = static_cast<uint32_t>(ns);
         return o->TimesGiven = true;
     },
     "real timing: ns the EC takes to take a byte or answer, at most 10^6\n"
     "(default 2000)"},
    {"--ec-latency", "DELAY", K::Text, 0, 0, "bad latency", nullptr, StoreLatency,
     "status reads before the EC takes a byte or answers:\n"
     "zero, fixed:N or random:N[:SEED] (default zero)"},
    {"--chip-busy", "DELAY", K::Text, 0, 0, "bad busy time", nullptr, StoreBusy,
     "status reads the chip stays busy after erase/program/status write:\n"
     "zero, fixed:N or random:N[:SEED] (default fixed:2)"},
    {"--wait-limit", "N", K::Number, 1, UINT32_MAX, "bad wait limit", nullptr,
     [](SimOptions* o, const char*, uint64_t limit) {
         o->WaitLimit = static_cast<uint32_t>(limit);
         return true;
     },
     "give up a wait after N status reads or polls (default: the flasher's)"},
    {"--ec-foreign", "HOW", K::Text, 0, 0, "--ec-foreign is ignore, subcommand, serve or leave, not", nullptr,
     [](SimOptions* o, const char* text, uint64_t) { return ParseForeign(text, &o->Ec.Foreign); },
     "what an EC in follow mode does with a normal-mode command (what a run\n"
     "after an interrupted one sends first): ignore (default), subcommand\n"
     "(decoded by its low three bits), serve (answered, follow mode stays) or\n"
     "leave (follow mode ends, then it is answered)"},
    {"--ec-constant", "DATA,STATUS", K::Text, 0, 0, "--ec-constant is DATA,STATUS, two bytes, not", nullptr,
     StoreConstant,
     "every read of the data port (0x62) returns DATA and of the status port\n"
     "(0x66) STATUS, whatever the EC holds; it still takes every byte written"},
    {"--state", "FILE", K::Text, 0, 0, nullptr, nullptr,
     [](SimOptions* o, const char* text, uint64_t) { return Store(&o->StatePath, text); },
     "keep the simulated EC and chip in FILE between runs, as a machine keeps\n"
     "them across a restart: read when FILE exists (the chip's contents, its\n"
     "status register, the EC's mode), written back after the run"},
    {"--rerun", nullptr, K::None, 0, 0, nullptr, nullptr,
     [](SimOptions* o, const char*, uint64_t) { return o->Rerun = true; },
     "after the run, clear the faults and run again as the console told the\n"
     "user, against the EC and chip as the run left them; the exit status is\n"
     "the second run's"},
    {"--fault", "NAME[=VALUE]", K::Text, 0, 0, "unknown or malformed fault", nullptr,
     [](SimOptions* o, const char* text, uint64_t) { return ParseFault(text, o); },
     "inject a fault (repeatable):"},
    {"--help", nullptr, K::None, 0, 0, nullptr, nullptr,
     [](SimOptions* o, const char*, uint64_t) { return o->Help = true; },
     "this text (also -h, and -? as the Shell has it)"},
    {"--version", nullptr, K::None, 0, 0, nullptr, nullptr,
     [](SimOptions* o, const char*, uint64_t) { return o->Version = true; },
     "zar-sim's version and the flasher's"},
};

constexpr size_t HELP_COLUMN = 24;  // where each option's help starts: "  %-22a" below

void PrintOptionHelp(const OptionRow& row)
{
    char label[40];
    size_t length = 0;
    const char* parts[] = {row.Name, row.ValueName ? " " : "", row.ValueName ? row.ValueName : ""};
    for (const char* part : parts)
        for (; *part && length + 1 < sizeof label; ++part)
            label[length++] = *part;
    label[length] = 0;
    // A label too long for its column puts the help on the next line.
    if (length + 4 > HELP_COLUMN)
        Print(u"  %a\n%-24a", label, "");
    else
        Print(u"  %-22a", label);
    char line[100];
    for (const char* text = row.Help; text;) {
        size_t lineLength;
        const char* next = SplitAt(text, '\n', &lineLength);
        if (lineLength >= sizeof line)
            lineLength = sizeof line - 1;
        MemCopy(line, text, lineLength);
        line[lineLength] = 0;
        Print(next ? u"%a\n%-24a" : u"%a\n", line, "");
        text = next;
    }
}

// Finds the option and stores its value (argv[*i + 1], then taken).
bool ParseOption(int argc, char* argv[], int* i, SimOptions* options)
{
    const char* arg = argv[*i];
    for (const OptionRow& row : OPTIONS) {
        if (!TextEqual(arg, row.Name))
            continue;
        if (row.Kind == ValueKind::None)
            return row.Store(options, nullptr, 0);
        if (*i + 1 >= argc)
            return Refuse("missing value for option", arg);
        const char* text = argv[++*i];
        uint64_t number = 0;
        if (row.Kind == ValueKind::Number) {
            if (!ParseNumber(text, &number))
                return Refuse(row.Refusal, text);
            if (number < row.Min || number > row.Max)
                return Refuse(row.OutOfBounds ? row.OutOfBounds : row.Refusal, text);
        }
        return row.Store(options, text, number) || Refuse(row.Refusal, text);
    }
    return Refuse("unknown option", arg);
}

}  // namespace

const char* ForeignByteName(ForeignByte how)
{
    return FOREIGN_NAMES[static_cast<size_t>(how) % 4];
}

void PrintVersion()
{
    Print(u"zar-sim %a (the simulated EC and flash chips)\n", ZAR_SIM_VERSION);
    Print(u"zar %a (the flasher it runs)\n", ZAR_VERSION);
}

void PrintHelp()
{
    Print(u"zar-sim: the ZAR flasher against a simulated EC and SPI flash chip\n");
    Print(u"\nusage: zar-sim [options] [--] IMAGE [ARGS...]\n");
    Print(u"       zar-sim [options] [--] /probe [/j]\n");
    Print(u"       zar-sim [options] [--] /read FILE [SIZE] [/j]\n");
    Print(u"       zar-sim [options] [--] /verify IMAGE [p] [/j]\n");
    Print(u"       zar-sim [options] [--] [/backup FILE] [/keep START-END]... /update IMAGE [p] [ARG3] [/j]\n");
    Print(u"       zar-sim [options] [--] /log FILE (any of the above)\n");
    Print(u"       zar-sim [options] [--] [/wait SECONDS] [/then reset|off] (any of the above)\n");
    Print(u"  runs the flasher as 'zar IMAGE ARGS...' (or 'zar /probe ...'); with no IMAGE it shows the\n");
    Print(u"  flasher's usage\n");
    Print(u"  /probe   the EC's module name and the chip: ID, part, size, status register; writes nothing\n");
    Print(u"  /read    the whole chip (or SIZE bytes) read twice into FILE, a new file; writes nothing\n");
    Print(u"  /verify  the chip compared with IMAGE block by block; writes nothing\n");
    Print(u"  /update  reads the chip, prints a plan, writes only the 4 KiB sectors that differ from IMAGE\n");
    Print(u"           (past IMAGE's end, what an erase takes is written back); a last /j closes with 0xFC\n");
    Print(u"  /keep    before /update: START-END (hex, END inclusive, 4 KiB bounds) is left as it is; up to 16\n");
    Print(u"  /backup  before /update: the chip to the end of IMAGE's last erase unit, read twice, saved\n");
    Print(u"           into FILE, a new file, first\n");
    Print(u"  e.g.     zar-sim --flash-in old.bin -- /keep 70000-7FFFF /backup b.bin /update new.bin p\n");
    Print(u"  /log     appends the run's record to FILE, closed before the EC is handed back\n");
    Print(u"  /wait    SECONDS (0-3600) the run's last line waits for a key; without a Shell 30 by default\n");
    Print(u"  /then    reset|off: after a run that ended well (status 0, the EC handed back), never after a\n"
          u"           failure; zar-sim.efi does it, zar-sim on Linux says so\n");
    Print(u"  /log, /wait, /then, /backup and /keep come before the verb or IMAGE, in any order; later they are\n"
          u"           refused\n");
    Print(u"  verbs and those words in any case; a first word with / that names no verb: UNKNOWN VERB!!\n");
    Print(u"  options come before IMAGE: one after it is refused (64) unless -- came first\n");
    Print(u"\noptions:\n");
    for (const OptionRow& row : OPTIONS) {
        PrintOptionHelp(row);
        if (TextEqual(row.Name, "--fault"))
            PrintFaultHelp();
    }
}

// -h and -?: the help, as other tools and the Shell ask for it.
bool IsHelpWord(const char* word)
{
    return TextEqual(word, "-h") || TextEqual(word, "-?");
}

// An option after the image would go to the flasher as one of its words:
// refused, unless "--" said the rest is the flasher's.
bool NoOptionAfter(int argc, char* argv[], int first)
{
    for (int k = first; k < argc; ++k) {
        if (argv[k][0] == '-' && argv[k][1] == '-')
            return Refuse("option after the image (options come first; '--' gives the rest to the flasher)",
                          argv[k]);
    }
    return true;
}

bool ParseSimOptions(int argc, char* argv[], SimOptions* options)
{
    static char program[] = "zar";
    options->FlasherArgv[0] = program;
    int i = 1;
    bool dashes = false;
    for (; i < argc; ++i) {
        if (TextEqual(argv[i], "--")) {
            ++i;
            dashes = true;
            break;
        }
        if (IsHelpWord(argv[i])) {
            options->Help = true;
            continue;
        }
        if (argv[i][0] != '-' || argv[i][1] != '-')
            break;
        if (!ParseOption(argc, argv, &i, options))
            return false;
    }
    if (!dashes && !NoOptionAfter(argc, argv, i))
        return false;

    int count = argc - i;
    if (count > 62)
        return Refuse("too many arguments for the flasher", argv[argc - 1]);
    for (int k = 0; k < count; ++k)
        options->FlasherArgv[1 + k] = argv[i + k];
    options->FlasherArgc = 1 + count;
    if (options->DecodePath && count > 0)
        return Refuse("--decode runs nothing; drop", argv[i]);
    return ApplyTiming(options);
}

}  // namespace zar::sim
