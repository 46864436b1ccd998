// The words that only /update takes, before the verb: "/backup FILE" and
// "/keep START-END" (repeatable, at most MAX_KEPT_RANGES). Read among the
// leading words (LeadingWords.h) and refused before the EC is touched.
#pragma once

#include <stdint.h>

#include "Applications/Main/Arguments.h"

namespace zar {

// Flash addresses, END inclusive as in layout files: 70000-7FFFF is the last
// 64 KiB of a 512 KiB chip.
struct KeptRange {
    uint32_t Start;
    uint32_t End;
};

constexpr int MAX_KEPT_RANGES = 16;

struct UpdateOptions {
    const char* Backup;  // nullptr: no backup
    KeptRange Kept[MAX_KEPT_RANGES];
    int KeptCount;
};

enum class RangeProblem : uint8_t { None, Syntax, Unaligned, Empty, TooHigh };

// "70000-7FFFF" or "0x70000-0x7FFFF": hexadecimal, START on a 4 KiB bound,
// END the byte before one, START <= END, END within 24-bit addresses.
RangeProblem ParseKeptRange(const char* text, KeptRange* range);

// "/keep START-END" (range is START-END) and "/backup FILE" (args.At(index)
// is FILE) into *options. False, once it has said why, for one it refuses:
// the run ends with EXIT_BAD_IMAGE and nothing touched.
[[nodiscard]] bool TakeKeep(const char* range, UpdateOptions* options);
[[nodiscard]] bool TakeBackup(const Arguments& args, int index, UpdateOptions* options);

// Whether the sector at address lies in a kept range.
bool SectorKept(const UpdateOptions& options, uint32_t address);

}  // namespace zar
