// The console formatter shared by every build.
//
// Format strings are UTF-16. Line breaks are rewritten as the console wants
// them: "\n" becomes CR LF, the pairs "\n\r" and "\r\n" each become one CR LF,
// a lone "\r" stays CR. Output is cut after FORMAT_MAX_CHARS units.
//
// Conversions (flags '0' and '-', a decimal width, and 'l' for 64-bit values):
//   %d signed decimal      %u unsigned decimal
//   %x %X upper-case hex   %c one UTF-16 unit (a NUL prints nothing)
//   %s UTF-16 string       %a narrow (ASCII/UTF-8 bytes) string
//   %% a percent sign
// Without 'l' every value is read as 32 bits. An unknown conversion is copied
// through as written.
#pragma once

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

namespace zar {

constexpr size_t FORMAT_MAX_CHARS = 320;
constexpr size_t FORMAT_BUFFER_UNITS = FORMAT_MAX_CHARS + 1;

// Formats into out (FORMAT_BUFFER_UNITS units, always NUL-terminated) and
// returns the number of units written before the NUL.
size_t FormatText(char16_t (&out)[FORMAT_BUFFER_UNITS], const char16_t* format, va_list args);

// UTF-16 to UTF-8, for consoles and files that take bytes. Unpaired
// surrogates become U+FFFD. Writes at most capacity-1 bytes plus a NUL and
// returns the bytes written before the NUL.
size_t Utf16ToUtf8(const char16_t* text, size_t units, char* out, size_t capacity);

// Decodes the UTF-8 sequence at the start of bytes (size of them left):
// returns its code point and sets *length to the bytes it takes. A malformed
// sequence (a stray or missing continuation, an overlong form, a surrogate,
// a value past U+10FFFF, a sequence cut by the end) returns UTF8_MALFORMED
// with *length 1.
constexpr uint32_t UTF8_MALFORMED = 0xFFFFFFFF;
uint32_t DecodeUtf8Sequence(const uint8_t* bytes, size_t size, size_t* length);

}  // namespace zar
