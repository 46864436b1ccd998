// Faults that a simulated run can inject into the platform services, so the
// flasher's handling of a failed read, write or allocation can be exercised.
// Both platforms consult these; nothing arms them in the real flasher.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace zar {

// Reads from files opened "rb" deliver nothing past this file offset, as a
// medium that fails there would. A negative offset disarms it.
void SetReadFailOffset(int32_t offset);
// How many of count bytes at position a read may deliver.
size_t ReadAllowance(int64_t position, size_t count);

// Files opened for writing while this is armed take `bytes` more bytes in
// all, as a disk that fills up would: the write that reaches the limit
// delivers what fits, every later one nothing. A file opened before it was
// armed (a simulator's trace) is not held to it. Negative disarms it.
void SetWriteFailAfter(int32_t bytes);
// Whether a file opened for writing now is held to that limit.
bool WriteFaultArmed();
// How many of count bytes a write to such a file may deliver; they are taken
// from what is left.
size_t WriteAllowance(size_t count);

// The allocation after `successes` more successful ones fails. Negative
// disarms it.
void SetAllocationFailAfter(int32_t successes);
bool AllocationShouldFail();

}  // namespace zar
