// The lines that name what failed, after a failed run's own lines and
// before the command to type: the block, the step, and for a blank check or
// verify the first differing address with the byte expected and found. The
// classic run clears the screen for every block, so a block that failed
// early is long gone from it by the end. Noted as the failure happens, from
// what the step itself read: the chip is not read again for them.
#pragma once

#include <stdint.h>

#include "Applications/Main/RunState.h"
#include "flash/FlashPrimitives.h"

namespace zar {

// What went wrong in step of block, from the step's result, unless a
// failure is already noted (the first one is named). For a blank check or
// verify that Differs, address is the differing byte's flash address and
// expected its target.
void NoteFailure(FailedStep step, int32_t block, const FlashResult& result, uint32_t address = 0,
                 uint8_t expected = 0);

// The same for a step that has no result of its own: the unprotect (whose
// wait ran out).
void NoteFailedStep(FailedStep step, int32_t block, bool waitRanOut);

// The noted failure, when there is one; nothing otherwise.
void PrintFailureNote();

// The wait that gave up, as the messages name it: "flash busy", ...
const char16_t* WaitName(WaitFault wait);

}  // namespace zar
