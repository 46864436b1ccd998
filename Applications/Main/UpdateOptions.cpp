#include "Applications/Main/UpdateOptions.h"

#include "Applications/Main/UpdatePlan.h"
#include "Applications/Main/VerbSteps.h"
#include "platform/Platform.h"
#include "platform/Text.h"

namespace zar {
namespace {

constexpr uint32_t LAST_FLASH_ADDRESS = 0xFFFFFF;  // 24-bit SPI addresses

// Hexadecimal up to `stop` (or the end), "0x" allowed; false when empty, not
// hexadecimal, or above 32 bits.
bool ParseHex(const char* text, char stop, uint32_t* value, const char** end)
{
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text += 2;
    uint64_t result = 0;
    const char* start = text;
    for (; *text && *text != stop; ++text) {
        char c = LowerAscii(*text);
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<uint32_t>(c - 'a' + 10);
        else
            return false;
        result = result * 16 + digit;
        if (result > 0xFFFFFFFFu)
            return false;
    }
    *value = static_cast<uint32_t>(result);
    *end = text;
    return text != start;
}

bool Overlap(const KeptRange& a, const KeptRange& b)
{
    return a.Start <= b.End && b.Start <= a.End;
}

bool RefuseKeep(const char* text, RangeProblem problem)
{
    switch (problem) {
    case RangeProblem::Unaligned:
        Print(u"\nKEEP ERROR!! /keep %a: START must be a multiple of 1000 (4 KiB) and END the byte before one,"
              u" as in 70000-7FFFF.\n",
              text);
        break;
    case RangeProblem::Empty:
        Print(u"\nKEEP ERROR!! /keep %a is empty or reversed: END is the range's last byte, at or after START.\n",
              text);
        break;
    case RangeProblem::TooHigh:
        Print(u"\nKEEP ERROR!! /keep %a reaches past FFFFFF, the last flash address.\n", text);
        break;
    default:
        Print(u"\nKEEP ERROR!! /keep needs a range START-END of hexadecimal flash addresses, as in"
              u" /keep 70000-7FFFF.\n");
        break;
    }
    return false;
}

}  // namespace

bool TakeKeep(const char* text, UpdateOptions* options)
{
    KeptRange range = {};
    RangeProblem problem = text == nullptr || text[0] == '/' ? RangeProblem::Syntax : ParseKeptRange(text, &range);
    if (problem != RangeProblem::None)
        return RefuseKeep(text, problem);
    for (int i = 0; i < options->KeptCount; ++i) {
        if (Overlap(range, options->Kept[i])) {
            Print(u"\nKEEP ERROR!! /keep %a overlaps /keep %x-%x.\n", text, options->Kept[i].Start,
                  options->Kept[i].End);
            return false;
        }
    }
    if (options->KeptCount == MAX_KEPT_RANGES) {
        Print(u"\nKEEP ERROR!! At most %d /keep ranges.\n", MAX_KEPT_RANGES);
        return false;
    }
    options->Kept[options->KeptCount++] = range;
    return true;
}

bool TakeBackup(const Arguments& args, int index, UpdateOptions* options)
{
    const char* name = FileNameWord(args, index, u"\nBACKUP FILE ERROR!! /backup needs a file name.\n");
    if (name == nullptr)
        return false;
    if (options->Backup != nullptr) {
        Print(u"\nBACKUP FILE ERROR!! /backup is given twice.\n");
        return false;
    }
    options->Backup = name;
    return true;
}

RangeProblem ParseKeptRange(const char* text, KeptRange* range)
{
    const char* end = text;
    if (!ParseHex(text, '-', &range->Start, &end) || *end != '-')
        return RangeProblem::Syntax;
    if (!ParseHex(end + 1, 0, &range->End, &end))
        return RangeProblem::Syntax;
    if (range->End < range->Start)
        return RangeProblem::Empty;
    if (range->End > LAST_FLASH_ADDRESS)
        return RangeProblem::TooHigh;
    if (range->Start % SECTOR_BYTES != 0 || (range->End + 1) % SECTOR_BYTES != 0)
        return RangeProblem::Unaligned;
    return RangeProblem::None;
}

bool SectorKept(const UpdateOptions& options, uint32_t address)
{
    for (int i = 0; i < options.KeptCount; ++i) {
        if (address >= options.Kept[i].Start && address <= options.Kept[i].End)
            return true;
    }
    return false;
}

}  // namespace zar
