// Faults that a simulated run can inject into the platform services, so the
// flasher's handling of a failed read or allocation can be exercised. Both
// platforms consult these; nothing arms them in the real flasher.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace zar {

// Reads from files opened "rb" deliver nothing past this file offset, as a
// medium that fails there would. A negative offset disarms it.
void SetReadFailOffset(int32_t offset);
// How many of count bytes at position a read may deliver.
size_t ReadAllowance(int64_t position, size_t count);

// The allocation after `successes` more successful ones fails. Negative
// disarms it.
void SetAllocationFailAfter(int32_t successes);
bool AllocationShouldFail();

}  // namespace zar
