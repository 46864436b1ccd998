// Small string helpers for freestanding code: command-line words and numbers.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace zar {

inline bool TextEqual(const char* a, const char* b)
{
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

inline char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool TextEqualNoCase(const char* a, const char* b)
{
    while (*a && LowerAscii(*a) == LowerAscii(*b)) {
        ++a;
        ++b;
    }
    return LowerAscii(*a) == LowerAscii(*b);
}

// "0x1F" or "31"; the whole text must be a number that fits in 64 bits.
inline bool ParseNumber(const char* text, uint64_t* value)
{
    if (text == nullptr || *text == 0)
        return false;
    uint64_t base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
        if (*text == 0)
            return false;
    }
    uint64_t result = 0;
    for (; *text; ++text) {
        char c = LowerAscii(*text);
        uint64_t digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint64_t>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<uint64_t>(c - 'a' + 10);
        else
            return false;
        if (result > (UINT64_MAX - digit) / base)
            return false;
        result = result * base + digit;
    }
    *value = result;
    return true;
}

// Splits "name=value" in place-free fashion: returns the value part or nullptr,
// and the length of the name part.
inline const char* SplitAt(const char* text, char separator, size_t* nameLength)
{
    size_t i = 0;
    while (text[i] && text[i] != separator)
        ++i;
    *nameLength = i;
    return text[i] ? text + i + 1 : nullptr;
}

inline bool PrefixEqual(const char* text, size_t length, const char* word)
{
    size_t i = 0;
    for (; i < length; ++i) {
        if (word[i] != text[i])
            return false;
    }
    return word[i] == 0;
}

}  // namespace zar
