// A long pass over the chip (/read, /verify, /update) on one console line:
// the share done ("37 %"), the bytes done and, where the platform has a
// clock, the time spent and an estimate of the time left. The line is
// redrawn in place (Redraw) between SPI transactions, never inside one
// (platform/Uninterrupted.h), whenever the share moves by a percent or a
// second has passed; the passes carry at most a percent in a transaction
// (ProgressStep). Redraws reach the screen only: the console's text, and so
// the run's record, gets the line once, in its last state, at the end.
#pragma once

#include <stdint.h>

namespace zar {

struct Progress {
    const char16_t* Label;  // the line's start, "Reading...       : "
    uint32_t Total;         // bytes
    uint32_t Done;
    int32_t Shown;          // the share last drawn; -1 before the first
    bool Clock;             // StartMs holds the platform's clock at the start
    uint64_t StartMs;
    uint64_t DrawnMs;
    uint32_t Width;         // characters of the longest line drawn
};

// The most bytes a pass over total bytes may carry in one transaction, so
// that the line moves at least every percent: a power of two from unit up
// to 64 KiB (a block, the longest transaction anything holds).
uint32_t ProgressStep(uint32_t total, uint32_t unit);

// Starts the line (nothing is printed yet).
void ProgressBegin(Progress* progress, const char16_t* label, uint32_t total);
// bytes more are done: redrawn when it shows.
void ProgressAdd(Progress* progress, uint32_t bytes);
// Takes the drawn line off the screen, before other text is printed.
void ProgressClear(Progress* progress);
// The line in its last state, printed (no line break: the caller ends it).
void ProgressEnd(Progress* progress);

}  // namespace zar
