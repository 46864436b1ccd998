// The lines the flash operations print around their progress marks.
#pragma once

#include <stdint.h>

#include "platform/Platform.h"

namespace zar {

// Spelled as the flasher has always printed them ("Eraseing", "Programing"):
// the misspellings are kept on purpose, since users and their scripts know
// these lines as they are. The same goes for "Cammand" on the usage screen
// and "mach" in the module check's line.
constexpr char16_t ERASE_HEADING[] = u"Eraseing...      : ";
constexpr char16_t ERASE_OK[] = u" -- Erase OK. \n\n";
constexpr char16_t PROGRAM_HEADING[] = u"Programing...    : ";
constexpr char16_t PROGRAM_OK[] = u" -- Programing OK. \n\n";

// Progress marks a transaction owed the console, printed once it has ended:
// nothing prints inside one (platform/Uninterrupted.h). One Print each, as
// they were printed when they came as the bytes went by.
inline void PrintMarks(uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i)
        Print(u"=");
}

}  // namespace zar
