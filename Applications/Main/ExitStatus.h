// What a run ends with: main's return value, and (through the UEFI entries)
// the status the Shell sees. Beside each, the EFI_STATUS the entries return.
#pragma once

namespace zar {

enum ExitStatus : int {
    EXIT_OK = 0,               // EFI_SUCCESS: flashed and every block verified; the usage screen; a "/" name that opened
    EXIT_MODULE_MISMATCH = 1,  // EFI_ABORTED: the image was built for another module
    EXIT_BAD_IMAGE = 2,        // EFI_LOAD_ERROR (EFI_OUT_OF_RESOURCES when memory ran out): the image can't be
                               // used or read whole; found before follow mode
    EXIT_FLASH_FAILED = 3,     // EFI_DEVICE_ERROR: a blank check or verify failed
    EXIT_NO_ANSWER = 4,        // EFI_TIMEOUT: the EC or the flash chip stopped answering
    EXIT_WRITE_PROTECTED = 5,  // EFI_WRITE_PROTECTED: the chip's protection held, or the part can't be
                               // written by the command; nothing was erased
    EXIT_USAGE = 64,           // EFI_INVALID_PARAMETER: zar-sim's options can't be read, or a file of its own
                               // can't be read or written
    EXIT_BAD_TRACE = 65,       // EFI_ABORTED: zar-sim --decode: the trace has lines that are not port accesses
};

}  // namespace zar
