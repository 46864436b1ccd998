// zar-sim --fault: the faults an engineer can inject, and their help.
#include "platform/Platform.h"
#include "platform/Text.h"
#include "tools/zar-sim/SimOptions.h"

namespace zar::sim {
namespace {

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
    {"write-fail=BYTES", "the flasher's files take BYTES bytes in all, then writes fail (a full disk)"},
    {"alloc-fail[=N]", "the allocation after N (default 0) good ones fails"},
};

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

}  // namespace

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
    } else if (is("write-fail") && value && numberOr(0, INT32_MAX)) {
        options->WriteFailAfter = static_cast<int32_t>(number);
    } else if (is("alloc-fail") && numberOr(0, INT32_MAX)) {
        options->AllocationFailAfter = static_cast<int32_t>(number);
    } else {
        return false;
    }
    return true;
}

void PrintFaultHelp()
{
    for (const FaultName& fault : FAULTS)
        Print(u"      %-24a %a\n", fault.Name, fault.Help);
}

}  // namespace zar::sim
