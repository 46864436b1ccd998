#include "platform/Faults.h"

namespace zar {
namespace {
int32_t gReadFailOffset = -1;
int32_t gWriteRoom = -1;
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

void SetWriteFailAfter(int32_t bytes)
{
    gWriteRoom = bytes;
}

bool WriteFaultArmed()
{
    return gWriteRoom >= 0;
}

size_t WriteAllowance(size_t count)
{
    if (gWriteRoom < 0)
        return count;
    size_t allowed = count < static_cast<size_t>(gWriteRoom) ? count : static_cast<size_t>(gWriteRoom);
    gWriteRoom -= static_cast<int32_t>(allowed);
    return allowed;
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
