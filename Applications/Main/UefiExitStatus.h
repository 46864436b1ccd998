// What the UEFI Shell sees of a run: the EFI_STATUS each exit status becomes.
// Only the UEFI entries include this.
#pragma once

#include "Applications/Main/ExitStatus.h"
#include "platform/uefi/Efi.h"

namespace zar {

constexpr EFI_STATUS UefiStatusOf(ExitStatus status, bool outOfMemory)
{
    switch (status) {
    case EXIT_OK:
        return EFI_SUCCESS;
    case EXIT_MODULE_MISMATCH:
        return EFI_ABORTED;
    case EXIT_BAD_IMAGE:
        return outOfMemory ? EFI_OUT_OF_RESOURCES : EFI_LOAD_ERROR;
    case EXIT_FLASH_FAILED:
        return EFI_DEVICE_ERROR;
    case EXIT_NO_ANSWER:
        return EFI_TIMEOUT;
    case EXIT_WRITE_PROTECTED:
        return EFI_WRITE_PROTECTED;
    case EXIT_USAGE:
        return EFI_INVALID_PARAMETER;
    case EXIT_BAD_TRACE:
        break;
    }
    return EFI_ABORTED;
}

}  // namespace zar
