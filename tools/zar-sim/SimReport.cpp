#include "tools/zar-sim/SimReport.h"

#include "Applications/Main/Main.h"
#include "Applications/Main/RunState.h"
#include "Applications/Main/Verbs.h"
#include "platform/Platform.h"
#include "platform/Text.h"

namespace zar::sim {
namespace {

// "1.234 s", "45.000 ms", "3.500 us": three decimals in the largest unit
// that leaves a whole number.
void PrintDuration(uint64_t ns)
{
    uint64_t unit = 1;
    const char* name = "ns";
    if (ns >= 1000000000ull) {
        unit = 1000000000ull;
        name = "s";
    } else if (ns >= 1000000ull) {
        unit = 1000000ull;
        name = "ms";
    } else if (ns >= 1000ull) {
        unit = 1000ull;
        name = "us";
    }
    if (unit == 1) {
        Print(u"%lu ns", ns);
        return;
    }
    auto thousandths = static_cast<uint32_t>(ns % unit / (unit / 1000));
    Print(u"%lu.%03u %a", ns / unit, thousandths, name);
}

const char* MethodName(ProgramMethod method)
{
    switch (method) {
    case ProgramMethod::Page:
        return "page program";
    case ProgramMethod::AaiWord:
        return "AAI word program";
    case ProgramMethod::AaiByte:
        return "AAI byte program";
    case ProgramMethod::ByteOnly:
        return "byte program";
    }
    return "?";
}

// What a verb's status means where it differs from the classic line's.
const char* VerbStatusText(int status, const char* verb)
{
    auto is = [verb](const char* name) { return VerbIs(verb, name); };
    if (status == EXIT_OK) {
        return is("/probe")    ? "a chip answered; nothing written"
               : is("/read")   ? "both reads agreed and the file was written"
               : is("/verify") ? "the chip holds the image; nothing written"
                               : "every block equals the image: verified, or already equal and left alone";
    }
    if (status == EXIT_BAD_IMAGE)
        return "the command line, the image or a file can't be used (or the size is unknown); nothing written";
    if (status == EXIT_FLASH_FAILED && is("/read"))
        return "the two reads differ; the file was not written";
    if (status == EXIT_FLASH_FAILED && is("/verify"))
        return "the chip differs from the image; nothing written";
    return nullptr;
}

}  // namespace

const char* ExitStatusText(int status, bool followEntered, const char* verb)
{
    if (verb) {
        if (const char* text = VerbStatusText(status, verb))
            return text;
    }
    switch (status) {
    case EXIT_OK:
        // The usage screen and a switch given for a name end with 0 too.
        return followEntered ? "flashed and verified" : "nothing flashed (usage screen, or a switch for a name)";
    case EXIT_MODULE_MISMATCH:
        if (RunState.Stopped)  // zar-sim.efi: Ctrl-C in the UEFI Shell
            return "stopped: Ctrl-C was pressed before follow mode; nothing written";
        return "module mismatch: the image is for another module; nothing written";
    case EXIT_BAD_IMAGE:
        return "image unusable (missing, empty, unreadable, too large for the flasher or for the chip); nothing written";
    case EXIT_FLASH_FAILED:
        return "flashing failed: a blank check or verify failed";
    case EXIT_NO_ANSWER:
        return "no answer: the EC or the flash chip stopped answering, or no chip answered";
    case EXIT_WRITE_PROTECTED:
        return "write-protected: the chip's protection held, or the command can't write the part; nothing erased";
    }
    return "unknown";
}

void PrintFlashComparison(const FlashComparison& c, uint32_t chipSize)
{
    switch (c.Result) {
    case FlashComparison::NoImage:
        Print(u"not compared: no image\n");
        return;
    case FlashComparison::Unreadable:
        Print(u"not compared: the image can't be read\n");
        return;
    case FlashComparison::Empty:
        Print(u"not compared: the image is empty\n");
        return;
    case FlashComparison::Equal:
        if (c.Wrapped)
            Print(u"holds the image's first %u bytes only\n", c.Compared);
        else
            Print(u"equals the image over its %u bytes\n", c.Compared);
        break;
    case FlashComparison::Differs:
        Print(u"differs from the image: first at 0x%06x (chip %02x, image %02x)\n", c.Address, c.Chip, c.Image);
        break;
    }
    if (c.Wrapped)
        Print(u"                the image (%u bytes) does not fit in the chip's %u bytes: its later bytes went "
              u"to wrapped addresses and overwrote earlier ones\n",
              c.ImageSize, chipSize);
}

const char* EcStateText(EcMode mode)
{
    switch (mode) {
    case EcMode::Normal:
        return "left in normal mode (follow mode never entered)";
    case EcMode::Follow:
        return "left in follow mode";
    case EcMode::ClosedExit:
        return "closed with 0xFE";
    case EcMode::ClosedExitAlt:
        return "closed with 0xFC";
    }
    return "?";
}

TimeEstimate EstimateTime(SimEc& ec, const SpiNorChip& chip)
{
    TimeEstimate t;
    t.TotalNs = ec.Clock().Now;
    t.ChipBusyNs = chip.Stats().BusyNs;
    // The host polls all the while the chip is busy, so busy time is bus
    // time too; it can't exceed the whole.
    t.BusIdleNs = t.TotalNs > t.ChipBusyNs ? t.TotalNs - t.ChipBusyNs : 0;
    return t;
}

void PrintTimeEstimate(SimEc& ec, const SpiNorChip& chip, uint32_t accessNs)
{
    TimeEstimate t = EstimateTime(ec, chip);
    const SpiNorChip::Counters& work = chip.Stats();
    Print(u"zar-sim: time on the hardware: ");
    PrintDuration(t.TotalNs);
    Print(u" (%lu port accesses x %u ns)\n", ec.Stats().Accesses, accessNs);
    Print(u"zar-sim:   chip busy ");
    PrintDuration(t.ChipBusyNs);
    Print(u": %lu erases, %lu programs, %lu status writes at the part's typical times\n", work.Erases, work.Programs,
          work.StatusWrites);
    Print(u"zar-sim:   bus with the chip idle ");
    PrintDuration(t.BusIdleNs);
    Print(u": commands, data and handshakes\n");
}

FlashComparison CompareWithImage(const uint8_t* contents, uint32_t size, const char* image)
{
    FlashComparison c;
    if (image == nullptr)
        return c;
    PlatformFile* file = FileOpen(image, "rb");
    int32_t length = -1;
    if (file && FileSeek(file, 0, FILE_SEEK_END) == 0)
        length = FileTell(file);
    constexpr uint32_t CHUNK = 0x10000;
    auto* buffer = static_cast<uint8_t*>(MemAlloc(CHUNK));
    if (file == nullptr || length < 0 || buffer == nullptr) {
        if (file)
            FileClose(file);
        MemFree(buffer);
        c.Result = FlashComparison::Unreadable;
        return c;
    }
    auto total = static_cast<uint32_t>(length);
    c.Result = total == 0 ? FlashComparison::Empty : FlashComparison::Equal;
    c.Wrapped = total > size;
    c.ImageSize = total;
    uint32_t fits = c.Wrapped ? size : total;
    bool readable = FileSeek(file, 0, FILE_SEEK_SET) == 0;
    for (uint32_t at = 0; at < fits && c.Result == FlashComparison::Equal;) {
        uint32_t want = fits - at < CHUNK ? fits - at : CHUNK;
        if (FileRead(buffer, 1, want, file) != want) {
            readable = false;
            break;
        }
        for (uint32_t i = 0; i < want; ++i) {
            if (contents[at + i] != buffer[i]) {
                c.Result = FlashComparison::Differs;
                c.Address = at + i;
                c.Chip = contents[at + i];
                c.Image = buffer[i];
                break;
            }
        }
        at += want;
    }
    FileClose(file);
    MemFree(buffer);
    if (!readable)
        c.Result = FlashComparison::Unreadable;
    c.Compared = fits;
    return c;
}

void PrintReport(const ReportFacts& f)
{
    const ChipInfo& chip = f.Chip->Info();
    const SimEc::Counters& ec = f.Ec->Stats();
    const SpiNorChip::Counters& work = f.Chip->Stats();

    Print(u"\n---- zar-sim report ----\n");
    const FlashPart& part = *chip.Part;
    Print(u"chip            %a (RDID %02x %02x %02x), %u KiB, %a\n", part.Name, part.Rdid[0], part.Rdid[1],
          part.Rdid[2], f.Chip->Size() / 1024, MethodName(chip.Method));
    Print(u"EC              %a\n", EcStateText(f.Ec->Mode()));
    Print(u"flash           ");
    PrintFlashComparison(CompareWithImage(f.Chip->Contents(), f.Chip->Size(), f.Image), f.Chip->Size());
    Print(u"port accesses   %lu, of them %lu status reads\n", ec.Accesses, ec.StatusReads);
    Print(u"chip work       %lu erases, %lu programs, %lu status writes, %lu commands refused\n", work.Erases,
          work.Programs, work.StatusWrites, work.Refused);
    Print(u"erases by kind  %lu of 64 KiB (0xD8), %lu of 4 KiB (0x20); %lu bytes programmed\n", work.BlockErases,
          work.Erases - work.BlockErases, work.BytesProgrammed);
    if (f.RealTiming) {
        TimeEstimate t = EstimateTime(*f.Ec, *f.Chip);
        Print(u"time            ");
        PrintDuration(t.TotalNs);
        Print(u" on the hardware (%u ns an access): chip busy ", f.AccessNs);
        PrintDuration(t.ChipBusyNs);
        Print(u", bus with the chip idle ");
        PrintDuration(t.BusIdleNs);
        Print(u"\n");
    } else {
        // Fast timing keeps every wait a few status reads; the hardware's
        // time is then at least the accesses at the bus's pace plus the
        // part's typical busy times, with an EC that answers at once.
        uint64_t busNs = f.Ec->Stats().Accesses * f.AccessNs;
        uint64_t busyNs = f.Chip->Stats().TypicalBusyNs;
        Print(u"time, estimate  ");
        PrintDuration(busNs + busyNs);
        Print(u" on the hardware (%u ns an access, an EC without latency): chip busy ", f.AccessNs);
        PrintDuration(busyNs);
        Print(u", bus ");
        PrintDuration(busNs);
        Print(u"; --timing real for the EC's latency\n");
    }
    Print(u"exit status     %d: %a\n", f.Status, ExitStatusText(f.Status, f.Ec->Mode() != EcMode::Normal, f.Verb));
}

}  // namespace zar::sim
