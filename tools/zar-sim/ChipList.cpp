#include "tools/zar-sim/ChipList.h"

#include "platform/Platform.h"
#include "sim/ChipCatalog.h"

namespace zar::sim {
namespace {

const char* MethodName(ProgramMethod method)
{
    switch (method) {
    case ProgramMethod::Page:
        return "page";
    case ProgramMethod::AaiWord:
        return "aai-word";
    case ProgramMethod::AaiByte:
        return "aai-byte";
    default:
        return "byte";
    }
}

// "  label       name, name, ..." for the field bits in mask; nothing when none.
void PrintFields(const char* label, uint32_t mask)
{
    if (mask == 0)
        return;
    Print(u"    %-11a", label);
    const char* separator = "";
    for (int bit = 0; bit < field::COUNT; ++bit) {
        if (mask & (1u << bit)) {
            Print(u"%a%a", separator, field::Name(bit));
            separator = ", ";
        }
    }
    Print(u"\n");
}

}  // namespace

void PrintChipList(bool verbose)
{
    // Scripts read the columns of the plain line: keep them, add at the end.
    for (int i = 0; i < ChipCount(); ++i) {
        const ChipInfo& chip = ChipAt(i);
        const FlashPart& part = *chip.Part;
        Print(u"%-14a %02X %02X %02X  %5d KiB  page %3d  %-8a%a\n", part.Name, part.Rdid[0], part.Rdid[1],
              part.Rdid[2], part.Size / 1024, part.PageSize, MethodName(chip.Method),
              chip.FitsAlgorithms ? "" : "  (not writable by the flasher)");
        if (!verbose)
            continue;
        Print(u"    %-11a%a\n", "sources", chip.Sources);
        PrintFields("borrowed", chip.Borrowed);
        PrintFields("unverified", chip.Unverified);
        if (chip.Note[0])
            Print(u"    %-11a%a\n", "note", chip.Note);
    }
    if (verbose) {
        Print(u"\nborrowed: the named document gives the value for a sister part or another revision.\n");
        Print(u"unverified: no document reached confirms the value; it is the nearest one known.\n");
    }
}

}  // namespace zar::sim
