#include "platform/Faults.h"

namespace zar {
namespace {
int32_t gReadFailOffset = -1;
int32_t gAllocationsLeft = -1;
}  // namespace

void SetReadFailOffset(int32_t offset)
{
    gReadFailOffset = offset;
}

size_t ReadAllowance(int64_t position, size_t count)
{
    if (gReadFailOffset < 0)
        return count;
    if (position >= gReadFailOffset)
        return 0;
    int64_t left = gReadFailOffset - position;
    return static_cast<int64_t>(count) < left ? count : static_cast<size_t>(left);
}

void SetAllocationFailAfter(int32_t successes)
{
    gAllocationsLeft = successes;
}

bool AllocationShouldFail()
{
    if (gAllocationsLeft < 0)
        return false;
    if (gAllocationsLeft == 0)
        return true;
    --gAllocationsLeft;
    return false;
}

}  // namespace zar
