// The firmware's types and GUIDs, from gnu-efi's headers (nothing of its
// libraries is linked).
#pragma once

#include <stdint.h>

// In C++ for the MSVC target gnu-efi would declare the fixed-width integer
// types itself, int8_t differently from <stdint.h>; claiming C11 makes it
// take <stdint.h>'s.
#if defined(_MSC_EXTENSIONS) && !defined(__STDC_VERSION__)
#define ZAR_EFI_STDC_VERSION
#define __STDC_VERSION__ 201112L
#endif

extern "C" {
#include <efi.h>
#include <efishellintf.h>
}

#ifdef ZAR_EFI_STDC_VERSION
#undef __STDC_VERSION__
#undef ZAR_EFI_STDC_VERSION
#endif
