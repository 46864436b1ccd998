#include "sim/SimFrontEnd.h"

#include "Applications/Main/RunState.h"
#include "Applications/Main/Main.h"
#include "Applications/Main/Verbs.h"
#include "ec/EcChannel.h"
#include "platform/Faults.h"
#include "platform/Platform.h"
#include "sim/ChipList.h"
#include "sim/SimDecode.h"
#include "sim/SimReport.h"
#include "platform/Text.h"
#include "sim/SimTrace.h"
#include "sim/SpiLog.h"

namespace zar::sim {
namespace {

// The simulated hardware of one run. Constant-initialised: no global
// constructor, and Init() powers everything up afresh.
SimEc gEc;
SpiNorChip gChip;
FlashPart gResizedPart;  // --chip-size: the chosen part with another size
ChipInfo gResizedChip;

struct FaultName {
    const char* Name;
    const char* Help;
};

constexpr FaultName FAULTS[] = {
    {"ec-ibf-stuck[=N]", "after N writes (default 0) the EC never clears IBF"},
    {"ec-obf-never[=N]", "after N answers (default 0) the EC never sets OBF again"},
    {"ec-ack=BYTE", "the EC answers follow-mode entry with BYTE instead of 0x33"},
    {"chip-absent", "no flash chip on the EC's SPI bus (reads 0xFF)"},
    {"chip-busy[=N]", "after N erase/program/status writes (default 0) the chip stays busy"},
    {"chip-locked", "the chip's protection can't be cleared"},
    {"stuck-bits=ADDR[:MASK]", "bits MASK (default 0xFF) at ADDR stay 1 whatever is programmed"},
    {"read-flip=ADDR[:N]", "the Nth read (default 1) of ADDR returns bit 0 flipped, once"},
    {"read-fail=OFFSET", "reading the image fails at file offset OFFSET"},
    {"alloc-fail[=N]", "the allocation after N (default 0) good ones fails"},
};

void PrintHelp()
{
    Print(u"zar-sim: the ZAR flasher against a simulated EC and SPI flash chip\n");
    Print(u"\nusage: zar-sim [options] [--] IMAGE [ARGS...]\n");
    Print(u"       zar-sim [options] [--] /probe [/j]\n");
    Print(u"       zar-sim [options] [--] /read FILE [SIZE] [/j]\n");
    Print(u"       zar-sim [options] [--] /verify IMAGE [p] [/j]\n");
    Print(u"       zar-sim [options] [--] /update IMAGE [p] [ARG3] [/j]\n");
    Print(u"       zar-sim [options] [--] /log FILE (any of the above)\n");
    Print(u"  runs the flasher as 'zar IMAGE ARGS...' (or 'zar /probe ...'); with no IMAGE it shows the\n");
    Print(u"  flasher's usage\n");
    Print(u"  /probe   the EC's module name and the chip: ID, part, size, status register; writes nothing\n");
    Print(u"  /read    the whole chip (or SIZE bytes) read twice into FILE, a new file; writes nothing\n");
    Print(u"  /verify  the chip compared with IMAGE block by block; writes nothing\n");
    Print(u"  /update  the classic run, leaving alone every block that already equals IMAGE\n");
    Print(u"  /log     first: appends the run's record to FILE, closed before the EC is handed back\n");
    Print(u"\noptions:\n");
    Print(u"  --chip NAME           the flash chip (see --list-chips; default %a)\n", DefaultChip().Part->Name);
    Print(u"  --list-chips          list the simulated parts and exit\n");
    Print(u"  --verbose             with --list-chips: each part's documents, and its values they don't confirm\n");
    Print(u"  --flash-in FILE       the chip's contents before the run (default: a fixed pattern)\n");
    Print(u"  --flash-out FILE      write the chip's contents after the run to FILE\n");
    Print(u"  --ec-module TEXT      the EC's module name (default: the image's own, at 0x50)\n");
    Print(u"  --machine MAKER,PRODUCT,SERIAL\n");
    Print(u"                        the machine's SMBIOS identity in the /log record (default: the\n");
    Print(u"                        firmware's under UEFI, unknown on Linux; an empty part is unknown)\n");
    Print(u"  --chip-size BYTES     give the chip another size: a power of two, 64 KiB to 16 MiB\n");
    Print(u"                        (its RDID capacity byte becomes N for 2^N bytes)\n");
    Print(u"  --trace FILE          write every port access to FILE ('in 66 02', 'out 62 08')\n");
    Print(u"  --spi-log FILE        write the run decoded: one line per EC command or SPI transaction\n");
    Print(u"  --decode TRACE        decode a trace written by --trace (to --spi-log FILE, or the console)\n");
    Print(u"  --report              after the run: chip, EC state, flash against image, accesses, exit status\n");
    Print(u"  --timing fast|real    real: the EC and chip take the hardware's time on a virtual clock, and\n");
    Print(u"                        the run ends with the time it would take (default fast)\n");
    Print(u"  --access-ns N         real timing: ns per port access, 100 to 10^9 (default %u, an LPC I/O cycle)\n",
          DEFAULT_ACCESS_NS);
    Print(u"  --ec-response-ns N    real timing: ns the EC takes to take a byte or answer, at most 10^6\n"
          u"                        (default %u)\n",
          DEFAULT_EC_RESPONSE_NS);
    Print(u"  --ec-latency DELAY    status reads before the EC takes a byte or answers:\n");
    Print(u"                        zero, fixed:N or random:N[:SEED] (default zero)\n");
    Print(u"  --chip-busy DELAY     status reads the chip stays busy after erase/program/status write:\n");
    Print(u"                        zero, fixed:N or random:N[:SEED] (default fixed:2)\n");
    Print(u"  --wait-limit N        give up a wait after N status reads or polls (default: the flasher's)\n");
    Print(u"  --ec-foreign HOW      what an EC in follow mode does with a normal-mode command (what a run\n");
    Print(u"                        after an interrupted one sends first): ignore (default), subcommand\n");
    Print(u"                        (decoded by its low three bits), serve (answered, follow mode stays) or\n");
    Print(u"                        leave (follow mode ends, then it is answered)\n");
    Print(u"  --ec-constant DATA,STATUS\n");
    Print(u"                        every read of the data port (0x62) returns DATA and of the status port\n");
    Print(u"                        (0x66) STATUS, whatever the EC holds; it still takes every byte written\n");
    Print(u"  --rerun               after the run, clear the faults and run again as the console told the\n");
    Print(u"                        user, against the EC and chip as the run left them; the exit status is\n");
    Print(u"                        the second run's\n");
    Print(u"  --fault NAME[=VALUE]  inject a fault (repeatable):\n");
    for (const FaultName& fault : FAULTS)
        Print(u"      %-24a %a\n", fault.Name, fault.Help);
    Print(u"  --help                this text\n");
}

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

// "ADDR" or "ADDR:REST": a 24-bit flash address, and what follows the colon
// (nullptr without one).
bool ParseAddress(const char* value, uint32_t* address, const char** rest)
{
    size_t length;
    *rest = SplitAt(value, ':', &length);
    char text[24];
    uint64_t number = 0;
    if (length == 0 || length >= sizeof text)
        return false;
    MemCopy(text, value, length);
    text[length] = 0;
    if (!ParseNumber(text, &number) || number > 0xFFFFFF)
        return false;
    *address = static_cast<uint32_t>(number);
    return true;
}

bool ParseFault(const char* text, SimOptions* options)
{
    size_t nameLength;
    const char* value = SplitAt(text, '=', &nameLength);
    uint64_t number = 0;
    auto is = [&](const char* name) { return PrefixEqual(text, nameLength, name); };
    auto numberOr = [&](uint64_t fallback, uint64_t max) {
        if (value == nullptr) {
            number = fallback;
            return true;
        }
        return ParseNumber(value, &number) && number <= max;
    };

    if (is("ec-ibf-stuck") && numberOr(0, UINT32_MAX)) {
        options->Ec.Faults.IbfStuckAfterWrites = number;
    } else if (is("ec-obf-never") && numberOr(0, UINT32_MAX)) {
        options->Ec.Faults.ObfStuckAfterAnswers = number;
    } else if (is("ec-ack") && value && numberOr(0, 0xFF)) {
        options->Ec.FollowAck = static_cast<uint8_t>(number);
    } else if (is("chip-absent") && value == nullptr) {
        options->ChipAbsent = true;
    } else if (is("chip-busy") && numberOr(0, UINT32_MAX)) {
        options->ChipSetup.Faults.BusyForeverAfterOps = number;
    } else if (is("chip-locked") && value == nullptr) {
        options->ChipSetup.Faults.ProtectionLocked = true;
    } else if (is("stuck-bits") && value) {
        uint32_t address = 0;
        const char* mask = nullptr;
        uint64_t maskValue = 0xFF;
        if (!ParseAddress(value, &address, &mask))
            return false;
        if (mask && (!ParseNumber(mask, &maskValue) || maskValue > 0xFF || maskValue == 0))
            return false;
        options->ChipSetup.Faults.HasStuckBits = true;
        options->ChipSetup.Faults.StuckAddress = address;
        options->ChipSetup.Faults.StuckMask = static_cast<uint8_t>(maskValue);
    } else if (is("read-flip") && value) {
        uint32_t address = 0;
        const char* nth = nullptr;
        uint64_t nthValue = 1;
        if (!ParseAddress(value, &address, &nth))
            return false;
        if (nth && (!ParseNumber(nth, &nthValue) || nthValue == 0))
            return false;
        options->ChipSetup.Faults.FlipsRead = true;
        options->ChipSetup.Faults.FlipAddress = address;
        options->ChipSetup.Faults.FlipOnRead = nthValue;
    } else if (is("read-fail") && value && numberOr(0, INT32_MAX)) {
        options->ReadFailOffset = static_cast<int32_t>(number);
    } else if (is("alloc-fail") && numberOr(0, INT32_MAX)) {
        options->AllocationFailAfter = static_cast<int32_t>(number);
    } else {
        return false;
    }
    return true;
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

// The flasher's line as main reads it: a leading "/log FILE" taken off, then
// a verb or the classic line's image.
struct FlasherLine {
    const char* First = nullptr;  // the first word after "/log FILE"
    const char* Verb = nullptr;
    const char* Image = nullptr;  // what the run writes or compares, if anything
};

FlasherLine ReadFlasherLine(const SimOptions& options)
{
    FlasherLine line;
    int first = 1;
    if (options.FlasherArgc > 2 && TextEqual(options.FlasherArgv[1], "/log"))
        first = 3;
    if (first >= options.FlasherArgc)
        return line;
    line.First = options.FlasherArgv[first];
    if (!IsVerb(line.First)) {
        line.Image = line.First;
        return line;
    }
    line.Verb = line.First;
    bool takesImage = TextEqual(line.Verb, "/verify") || TextEqual(line.Verb, "/update");
    if (takesImage && first + 1 < options.FlasherArgc)
        line.Image = options.FlasherArgv[first + 1];
    return line;
}

// The EC's module name: the given text padded with spaces, or the image's own
// 32 bytes at 0x50 read as the flasher reads them (what an image shorter
// than 0x70 bytes lacks stays zero), so that a plain run passes the module
// check.
void SetEcModuleName(const SimOptions& options, const char* imageName)
{
    if (options.EcModule) {
        gEc.SetModuleName(options.EcModule);
        return;
    }
    if (imageName == nullptr)
        return;
    PlatformFile* image = FileOpen(imageName, "rb");
    if (image == nullptr)
        return;
    uint8_t* name = gEc.Memory() + SimEc::MODULE_NAME_ADDRESS;
    MemSet(name, 0, 32);
    if (FileSeek(image, 0x50, FILE_SEEK_SET) == 0)
        FileRead(name, 1, 32, image);
    FileClose(image);
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

// A file shorter than the chip fills its start; the rest keeps the pattern.
bool LoadFile(const char* path, uint8_t* contents, uint32_t size)
{
    PlatformFile* file = FileOpen(path, "rb");
    if (file == nullptr)
        return false;
    FileRead(contents, 1, size, file);
    bool failed = FileReadFailed(file);
    FileClose(file);
    return !failed;
}

bool SaveFile(const char* path, const uint8_t* contents, uint32_t size)
{
    PlatformFile* file = FileOpen(path, "wb");
    if (file == nullptr)
        return false;
    bool written = FileWrite(contents, 1, size, file) == size;
    return FileClose(file) == 0 && written;
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

// An output that is an input (or another output) would be cut to nothing
// before the run reads it, or written twice over: refused by the file it
// is, whatever name leads to it.
bool OutputsAreApart(const SimOptions& options, const char* image)
{
    struct Named {
        const char* Option;
        const char* Path;
    };
    const Named outputs[] = {
        {"--trace", options.TracePath},
        {"--spi-log", options.SpiLogPath},
        {"--flash-out", options.FlashOut},
    };
    const Named inputs[] = {
        {"the image", image},
        {"--flash-in", options.FlashIn},
        {"--decode", options.DecodePath},
    };
    for (size_t i = 0; i < sizeof outputs / sizeof outputs[0]; ++i) {
        const Named& out = outputs[i];
        if (out.Path == nullptr)
            continue;
        for (const Named& in : inputs) {
            if (in.Path && SameFile(out.Path, in.Path)) {
                Print(u"zar-sim: %a %a is %a: it would be overwritten before it is read\n", out.Option, out.Path,
                      in.Option);
                return false;
            }
        }
        for (size_t k = i + 1; k < sizeof outputs / sizeof outputs[0]; ++k) {
            const Named& other = outputs[k];
            if (other.Path && (TextEqual(out.Path, other.Path) || SameFile(out.Path, other.Path))) {
                Print(u"zar-sim: %a and %a both write %a\n", out.Option, other.Option, out.Path);
                return false;
            }
        }
    }
    return true;
}

void SayHowTheRunEnded(const char* run, int status, const char* verb)
{
    Print(u"zar-sim: %a: status %d, %a\n", run, status, ExitStatusText(status, gEc.Mode() != EcMode::Normal, verb));
}

void PrintCommandLine(int argc, char* argv[])
{
    Print(u"zar-sim:  ");
    for (int i = 0; i < argc; ++i)
        Print(u" %a", argv[i]);
    Print(u"\n");
}

}  // namespace

// Erased chips hide a missing erase: start from a pattern that is neither
// 0x00 nor 0xFF and differs from address to address.
void FillPattern(uint8_t* contents, uint32_t size)
{
    for (uint32_t i = 0; i < size; ++i) {
        auto value = static_cast<uint8_t>((i >> 8) * 31 + i * 7 + 0x11);
        contents[i] = value == 0xFF ? 0xCC : value;
    }
}

const char* ForeignByteName(ForeignByte how)
{
    return FOREIGN_NAMES[static_cast<size_t>(how) % 4];
}

int RerunCommandLine(int argc, char* argv[], char* out[])
{
    static char skip[] = "p";
    for (int i = 0; i < argc; ++i)
        out[i] = argv[i];
    if (RunState.Rerun != RerunAdvice::SkipModuleCheck)
        return argc;
    // p goes after the image, which follows "/log FILE" and "/update".
    int image = argc > 2 && TextEqual(argv[1], "/log") ? 3 : 1;
    if (image < argc && TextEqual(argv[image], "/update"))
        ++image;
    if (image >= argc)
        return argc;
    out[image + 1] = skip;
    return image + 1 == argc ? argc + 1 : argc;
}

bool ParseSimOptions(int argc, char* argv[], SimOptions* options)
{
    static char program[] = "zar";
    options->FlasherArgv[0] = program;
    int i = 1;
    for (; i < argc; ++i) {
        const char* arg = argv[i];
        if (TextEqual(arg, "--")) {
            ++i;
            break;
        }
        if (arg[0] != '-' || arg[1] != '-')
            break;
        auto value = [&](const char** out) {
            if (i + 1 >= argc)
                return Refuse("missing value for option", arg);
            *out = argv[++i];
            return true;
        };
        const char* text = nullptr;
        uint64_t number = 0;
        if (TextEqual(arg, "--help")) {
            options->Help = true;
        } else if (TextEqual(arg, "--list-chips")) {
            options->ListChips = true;
        } else if (TextEqual(arg, "--verbose")) {
            options->Verbose = true;
        } else if (TextEqual(arg, "--trace")) {
            if (!value(&options->TracePath))
                return false;
        } else if (TextEqual(arg, "--spi-log")) {
            if (!value(&options->SpiLogPath))
                return false;
        } else if (TextEqual(arg, "--decode")) {
            if (!value(&options->DecodePath))
                return false;
        } else if (TextEqual(arg, "--report")) {
            options->Report = true;
        } else if (TextEqual(arg, "--timing")) {
            if (!value(&text))
                return false;
            if (!TextEqual(text, "fast") && !TextEqual(text, "real"))
                return Refuse("timing is fast or real", text);
            options->RealTiming = TextEqual(text, "real");
        } else if (TextEqual(arg, "--access-ns") || TextEqual(arg, "--ec-response-ns")) {
            bool access = TextEqual(arg, "--access-ns");
            if (!value(&text))
                return false;
            if (!ParseNumber(text, &number))
                return Refuse("bad time in ns", text);
            if (access && (number < MIN_ACCESS_NS || number > MAX_ACCESS_NS))
                return Refuse("an access takes 100 ns to 1 s", text);
            if (!access && number > MAX_EC_RESPONSE_NS)
                return Refuse("an EC answers within 1 ms (1000000 ns)", text);
            (access ? options->AccessNs : options->EcResponseNs) = static_cast<uint32_t>(number);
            options->TimesGiven = true;
        } else if (TextEqual(arg, "--chip-size")) {
            if (!value(&text))
                return false;
            // 24-bit addresses reach 16 MiB; below 64 KiB not one block fits.
            if (!ParseNumber(text, &number) || number < 0x10000 || number > 0x1000000 || (number & (number - 1)))
                return Refuse("bad chip size", text);
            options->ChipSize = static_cast<uint32_t>(number);
        } else if (TextEqual(arg, "--ec-module")) {
            if (!value(&options->EcModule))
                return false;
        } else if (TextEqual(arg, "--machine")) {
            if (!value(&text))
                return false;
            if (!ParseMachine(text, &options->Machine))
                return Refuse("--machine is MANUFACTURER,PRODUCT,SERIAL, each at most 64 bytes", text);
            options->MachineGiven = true;
        } else if (TextEqual(arg, "--flash-in")) {
            if (!value(&options->FlashIn))
                return false;
        } else if (TextEqual(arg, "--flash-out")) {
            if (!value(&options->FlashOut))
                return false;
        } else if (TextEqual(arg, "--chip")) {
            if (!value(&text))
                return false;
            options->Chip = FindChip(text);
            if (options->Chip == nullptr)
                return Refuse("unknown chip", text);
        } else if (TextEqual(arg, "--ec-latency")) {
            if (!value(&text))
                return false;
            if (!ParseDelay(text, &options->Ec.IbfDelay))
                return Refuse("bad latency", text);
            options->Ec.ObfDelay = options->Ec.IbfDelay;
            options->LatencyGiven = true;
        } else if (TextEqual(arg, "--chip-busy")) {
            if (!value(&text))
                return false;
            if (!ParseDelay(text, &options->ChipSetup.Busy))
                return Refuse("bad busy time", text);
            options->BusyGiven = true;
        } else if (TextEqual(arg, "--wait-limit")) {
            if (!value(&text))
                return false;
            if (!ParseNumber(text, &number) || number == 0 || number > UINT32_MAX)
                return Refuse("bad wait limit", text);
            options->WaitLimit = static_cast<uint32_t>(number);
        } else if (TextEqual(arg, "--ec-foreign")) {
            if (!value(&text))
                return false;
            if (!ParseForeign(text, &options->Ec.Foreign))
                return Refuse("--ec-foreign is ignore, subcommand, serve or leave, not", text);
        } else if (TextEqual(arg, "--ec-constant")) {
            if (!value(&text))
                return false;
            size_t dataLength;
            const char* status = SplitAt(text, ',', &dataLength);
            char data[8] = {};
            uint64_t statusByte = 0;
            if (status && dataLength < sizeof data)
                MemCopy(data, text, dataLength);
            if (!ParseNumber(data, &number) || number > 0xFF || !ParseNumber(status, &statusByte) || statusByte > 0xFF)
                return Refuse("--ec-constant is DATA,STATUS, two bytes, not", text);
            options->Ec.Constant = {true, static_cast<uint8_t>(number), static_cast<uint8_t>(statusByte)};
        } else if (TextEqual(arg, "--rerun")) {
            options->Rerun = true;
        } else if (TextEqual(arg, "--fault")) {
            if (!value(&text))
                return false;
            if (!ParseFault(text, options))
                return Refuse("unknown or malformed fault", text);
        } else {
            return Refuse("unknown option", arg);
        }
    }

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

int SimMain(int argc, char* argv[])
{
    static SimOptions options;
    options = SimOptions{};
    if (!ParseSimOptions(argc, argv, &options))
        return EXIT_USAGE;
    if (options.Help) {
        PrintHelp();
        return 0;
    }
    if (options.ListChips) {
        PrintChipList(options.Verbose);
        return 0;
    }
    if (!OutputsAreApart(options, ReadFlasherLine(options).Image))
        return EXIT_USAGE;
    if (options.DecodePath)
        return DecodeTraceFile(options.DecodePath, options.SpiLogPath);

    FlasherLine line = ReadFlasherLine(options);
    if (line.Image && line.Image[0] == '/')
        Print(u"zar-sim: the flasher takes a name beginning with '/' for a switch, not an image; "
              u"give the image's path relative to here\n");

    // The chip and its contents.
    const ChipInfo* info = options.Chip ? options.Chip : &DefaultChip();
    if (options.ChipSize && options.ChipSize != info->Part->Size) {
        gResizedPart = *info->Part;
        gResizedPart.Size = options.ChipSize;
        // A part of another size says so in its RDID capacity byte (2^N
        // bytes), as the flasher sizes unknown parts by it.
        if (gResizedPart.AnswersRdid) {
            uint8_t capacity = 0;
            while ((1u << capacity) < options.ChipSize)
                ++capacity;
            gResizedPart.Rdid[2] = capacity;
        }
        gResizedChip = *info;
        gResizedChip.Part = &gResizedPart;
        info = &gResizedChip;
    }
    auto* contents = static_cast<uint8_t*>(MemAlloc(info->Part->Size));
    if (contents == nullptr) {
        Print(u"zar-sim: no memory for the chip's %d bytes\n", info->Part->Size);
        return EXIT_USAGE;
    }
    FillPattern(contents, info->Part->Size);
    if (options.FlashIn && !LoadFile(options.FlashIn, contents, info->Part->Size)) {
        Print(u"zar-sim: can't read %a (%a)\n", options.FlashIn, CANT_READ_WHY);
        MemFree(contents);
        return EXIT_USAGE;
    }

    // The EC, with the chip on its SPI bus.
    gEc.Init(options.Ec);
    gChip.Init(*info, options.ChipSetup, contents, &gEc.Clock());
    gEc.AttachChip(options.ChipAbsent ? nullptr : &gChip);
    SetEcModuleName(options, line.Image);

    // What watches the ports: the trace file, the decoder, or both.
    FileTrace trace;
    SpiLogFile log;
    SpiLogDecoder decoder(&log);
    TraceTee both(&trace, &decoder);
    if (options.TracePath && !trace.Open(options.TracePath)) {
        Print(u"zar-sim: can't write %a\n", options.TracePath);
        MemFree(contents);
        return EXIT_USAGE;
    }
    if (options.SpiLogPath && !log.Open(options.SpiLogPath)) {
        Print(u"zar-sim: can't write %a\n", options.SpiLogPath);
        MemFree(contents);
        return EXIT_USAGE;
    }
    if (options.TracePath && options.SpiLogPath)
        gEc.SetTrace(&both);
    else if (options.TracePath)
        gEc.SetTrace(&trace);
    else if (options.SpiLogPath)
        gEc.SetTrace(&decoder);

    // The run.
    WaitLimits saved = CurrentWaitLimits();
    SetWaitLimits({options.WaitLimit, options.WaitLimit});
    SetReadFailOffset(options.ReadFailOffset);
    SetAllocationFailAfter(options.AllocationFailAfter);
    SetActiveEc(&gEc);
    SetSimulatedMachine(options.MachineGiven ? &options.Machine : nullptr);

    int status = zar::main(options.FlasherArgc, options.FlasherArgv);
    SetAllocationFailAfter(-1);
    SetReadFailOffset(-1);

    // The same EC and chip, as the run left them, with the faults gone: the
    // run the console told the user to make.
    if (options.Rerun) {
        static char* rerunArgv[65];
        int rerunArgc = RerunCommandLine(options.FlasherArgc, options.FlasherArgv, rerunArgv);
        Print(u"zar-sim: EC %a\n", EcStateText(gEc.Mode()));
        SayHowTheRunEnded("first run", status, line.Verb);
        gEc.NextRun();
        gChip.NextRun();
        gEc.AttachChip(&gChip);  // an absent chip is a fault too
        Print(u"zar-sim: faults cleared; again, against the EC and chip as the first run left them:\n");
        PrintCommandLine(rerunArgc, rerunArgv);
        status = zar::main(rerunArgc, rerunArgv);
    }

    SetSimulatedMachine(nullptr);
    SetActiveEc(nullptr);
    SetWaitLimits(saved);
    gEc.SetTrace(nullptr);
    decoder.Finish();
    trace.Close();
    log.Close();
    if (trace.Failed())
        Print(u"zar-sim: writing %a failed: the trace is incomplete\n", options.TracePath);
    if (log.Failed())
        Print(u"zar-sim: writing %a failed: the SPI log is incomplete\n", options.SpiLogPath);

    // What became of the hardware.
    if (options.FlasherArgc > 1)
        Print(u"zar-sim: EC %a\n", EcStateText(gEc.Mode()));
    if (options.Rerun) {
        SayHowTheRunEnded("rerun", status, line.Verb);
        Print(u"zar-sim: flash ");
        PrintFlashComparison(CompareWithImage(contents, gChip.Size(), line.Image), gChip.Size());
    }
    if (options.RealTiming)
        PrintTimeEstimate(gEc, gChip, options.AccessNs);
    if (options.Report)
        PrintReport({&gEc, &gChip, line.Image, line.Verb, options.RealTiming, options.AccessNs, status});
    if (options.FlashOut && !SaveFile(options.FlashOut, contents, info->Part->Size))
        Print(u"zar-sim: can't write %a\n", options.FlashOut);
    MemFree(contents);
    return status;
}

}  // namespace zar::sim
