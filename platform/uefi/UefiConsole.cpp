// The console: the system table's text output, which the Shell redirects when
// the user asks for it.
#include <stdarg.h>

#include "platform/Format.h"
#include "platform/Platform.h"
#include "platform/uefi/UefiRuntime.h"

namespace zar {

using uefi::gFirmware;

bool ConsoleOutput(const char16_t* text, size_t)
{
    SIMPLE_TEXT_OUTPUT_INTERFACE* out = gFirmware.System ? gFirmware.System->ConOut : nullptr;
    return out != nullptr && !EFI_ERROR(out->OutputString(out, reinterpret_cast<CHAR16*>(const_cast<char16_t*>(text))));
}

// The Shell's console is a screen (or a serial terminal standing for one).
bool ConsoleRedraw(const char16_t* text, size_t units)
{
    return ConsoleOutput(text, units);
}

void SetAttribute(uintptr_t attribute)
{
    if (gFirmware.System && gFirmware.System->ConOut)
        gFirmware.System->ConOut->SetAttribute(gFirmware.System->ConOut, attribute);
}

void ClearScreen()
{
    if (gFirmware.System && gFirmware.System->ConOut)
        gFirmware.System->ConOut->ClearScreen(gFirmware.System->ConOut);
}

void SetCursorPosition(uintptr_t column, uintptr_t row)
{
    if (gFirmware.System && gFirmware.System->ConOut)
        gFirmware.System->ConOut->SetCursorPosition(gFirmware.System->ConOut, column, row);
}

}  // namespace zar
