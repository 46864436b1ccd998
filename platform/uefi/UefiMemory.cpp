// The heap over the firmware's pool, and the few functions the compiler may
// call on its own (block moves, zeroing, comparisons, pure virtual calls).
#include "platform/Faults.h"
#include "platform/Platform.h"
#include "platform/uefi/UefiRuntime.h"

namespace zar {

void* MemAlloc(size_t size)
{
    if (size == 0 || AllocationShouldFail() || uefi::gFirmware.Boot == nullptr)
        return nullptr;
    void* block = nullptr;
    if (EFI_ERROR(uefi::gFirmware.Boot->AllocatePool(EfiLoaderData, size, &block)))
        return nullptr;
    return block;
}

void MemFree(void* block)
{
    if (block && uefi::gFirmware.Boot)
        uefi::gFirmware.Boot->FreePool(block);
}

}  // namespace zar
