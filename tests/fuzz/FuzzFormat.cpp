// Print's formatter on any format string with any arguments. The input is
// split at its first 0xFF: before it the format (UTF-16), after it the text
// every argument points to. Each argument is a pointer, which every
// conversion may take: %s and %a read the text, the others the pointer's
// bits. At most MAX_ARGUMENTS conversions: a format with more '%' than that
// is not tried, since the formatter would read past the arguments given.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "platform/Format.h"

namespace {

constexpr int MAX_ARGUMENTS = 16;

size_t Format(char16_t (&out)[zar::FORMAT_BUFFER_UNITS], const char16_t* format, ...)
{
    va_list args;
    va_start(args, format);
    size_t length = zar::FormatText(out, format, args);
    va_end(args);
    return length;
}

// A well-formed UTF-8 string of exactly `length` bytes.
bool WellFormed(const char* text, size_t length)
{
    const auto* p = reinterpret_cast<const uint8_t*>(text);
    for (size_t i = 0; i < length;) {
        size_t n = p[i] < 0x80 ? 1 : p[i] >= 0xC2 && p[i] < 0xE0 ? 2 : p[i] >= 0xE0 && p[i] < 0xF0 ? 3
                                    : p[i] >= 0xF0 && p[i] < 0xF5 ? 4 : 0;
        if (n == 0 || i + n > length)
            return false;
        for (size_t k = 1; k < n; ++k)
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
        i += n;
    }
    return text[length] == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const uint8_t* split = static_cast<const uint8_t*>(memchr(data, 0xFF, size));
    size_t formatBytes = split ? static_cast<size_t>(split - data) : size;
    std::vector<char16_t> format(formatBytes / 2 + 1, 0);
    memcpy(format.data(), data, formatBytes / 2 * 2);
    int percents = 0;
    for (char16_t unit : format)
        percents += unit == u'%';
    if (percents > MAX_ARGUMENTS)
        return 0;

    // The argument text, ended by a NUL in both widths; aligned for %s.
    size_t textBytes = split ? size - formatBytes - 1 : 0;
    std::vector<char16_t> text(textBytes / 2 + 2, 0);
    if (textBytes)
        memcpy(text.data(), split + 1, textBytes);
    const void* a = text.data();

    char16_t out[zar::FORMAT_BUFFER_UNITS];
    size_t length = Format(out, format.data(), a, a, a, a, a, a, a, a, a, a, a, a, a, a, a, a);
    if (length > zar::FORMAT_MAX_CHARS || out[length] != 0)
        abort();
    for (size_t i = 0; i < length; ++i)
        if (out[i] == 0)
            abort();

    // What a console of any width makes of it: whole sequences, cut between them.
    char bytes[64];
    size_t capacity = format.size() % sizeof bytes + 1;
    size_t written = zar::Utf16ToUtf8(out, length, bytes, capacity);
    if (written >= capacity || !WellFormed(bytes, written))
        abort();
    return 0;
}

// Print's way out, which this target does not take, and Redraw's.
namespace zar {
bool ConsoleOutput(const char16_t*, size_t)
{
    return true;
}
bool ConsoleRedraw(const char16_t*, size_t)
{
    return true;
}
}  // namespace zar
