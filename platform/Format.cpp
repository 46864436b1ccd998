#include "platform/Format.h"

#include "platform/Platform.h"

#include <stdint.h>

namespace zar {
namespace {

constexpr char16_t REPLACEMENT = 0xFFFD;

class Output {
public:
    explicit Output(char16_t (&buffer)[FORMAT_BUFFER_UNITS]) : buffer_(buffer) {}

    void Put(char16_t unit)
    {
        if (length_ < FORMAT_MAX_CHARS)
            buffer_[length_++] = unit;
    }

    void Padding(char16_t unit, int count)
    {
        for (int i = 0; i < count; ++i)
            Put(unit);
    }

    size_t Finish()
    {
        buffer_[length_] = 0;
        return length_;
    }

private:
    char16_t (&buffer_)[FORMAT_BUFFER_UNITS];
    size_t length_ = 0;
};

struct Conversion {
    bool zeroPad = false;
    bool leftAlign = false;
    bool wide = false;  // 'l': the value is 64 bits
    int width = 0;
};

void PutDigits(Output& out, const Conversion& conv, uint64_t value, unsigned base, bool negative)
{
    char16_t digits[24];
    int count = 0;
    do {
        unsigned digit = static_cast<unsigned>(value % base);
        digits[count++] = static_cast<char16_t>(digit < 10 ? u'0' + digit : u'A' + digit - 10);
        value /= base;
    } while (value != 0);

    int length = count + (negative ? 1 : 0);
    int pad = conv.width > length ? conv.width - length : 0;
    if (!conv.leftAlign && !conv.zeroPad)
        out.Padding(u' ', pad);
    if (negative)
        out.Put(u'-');
    if (!conv.leftAlign && conv.zeroPad)
        out.Padding(u'0', pad);
    while (count > 0)
        out.Put(digits[--count]);
    if (conv.leftAlign)
        out.Padding(u' ', pad);
}

// Decodes one UTF-8 sequence at text; returns its length in bytes and the
// unit (U+FFFD for anything malformed or outside the BMP).
int DecodeUtf8(const char* text, char16_t* unit)
{
    const auto* p = reinterpret_cast<const uint8_t*>(text);
    if (p[0] < 0x80) {
        *unit = p[0];
        return 1;
    }
    int extra = (p[0] & 0xE0) == 0xC0 ? 1 : (p[0] & 0xF0) == 0xE0 ? 2 : (p[0] & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0) {
        *unit = REPLACEMENT;
        return 1;
    }
    uint32_t code = p[0] & (0x3F >> extra);
    for (int i = 1; i <= extra; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            *unit = REPLACEMENT;
            return i;
        }
        code = (code << 6) | (p[i] & 0x3F);
    }
    bool valid = code >= 0x80 && code <= 0xFFFF && !(code >= 0xD800 && code <= 0xDFFF);
    *unit = valid ? static_cast<char16_t>(code) : REPLACEMENT;
    return extra + 1;
}

template <typename Next>
void PutPadded(Output& out, const Conversion& conv, int length, Next emit)
{
    int pad = conv.width > length ? conv.width - length : 0;
    if (!conv.leftAlign)
        out.Padding(u' ', pad);
    emit();
    if (conv.leftAlign)
        out.Padding(u' ', pad);
}

void PutWideString(Output& out, const Conversion& conv, const char16_t* text)
{
    if (text == nullptr)
        text = u"(null)";
    int length = 0;
    while (text[length])
        ++length;
    PutPadded(out, conv, length, [&] {
        for (int i = 0; i < length; ++i)
            out.Put(text[i]);
    });
}

void PutNarrowString(Output& out, const Conversion& conv, const char* text)
{
    if (text == nullptr)
        text = "(null)";
    int length = 0;
    char16_t unit;
    for (const char* p = text; *p; p += DecodeUtf8(p, &unit))
        ++length;
    PutPadded(out, conv, length, [&] {
        for (const char* p = text; *p;) {
            p += DecodeUtf8(p, &unit);
            out.Put(unit);
        }
    });
}

// The flags, width and length of a conversion; p is left on its letter.
Conversion ReadConversion(const char16_t*& p)
{
    Conversion conv;
    for (;; ++p) {
        if (*p == u'0')
            conv.zeroPad = true;
        else if (*p == u'-')
            conv.leftAlign = true;
        else
            break;
    }
    while (*p >= u'0' && *p <= u'9' && conv.width < 1000)
        conv.width = conv.width * 10 + (*p++ - u'0');
    if (*p == u'l') {
        conv.wide = true;
        ++p;
    }
    return conv;
}

}  // namespace

size_t FormatText(char16_t (&buffer)[FORMAT_BUFFER_UNITS], const char16_t* format, va_list args)
{
    Output out(buffer);
    const char16_t* p = format;
    while (*p) {
        char16_t c = *p++;
        if (c == u'\n' || c == u'\r') {
            // "\n", "\n\r" and "\r\n" are one line break each; a lone CR stays.
            char16_t partner = c == u'\n' ? u'\r' : u'\n';
            if (*p == partner) {
                ++p;
                c = u'\n';
            }
            if (c == u'\n')
                out.Put(u'\r');
            out.Put(c);
            continue;
        }
        if (c != u'%') {
            out.Put(c);
            continue;
        }

        const char16_t* start = p - 1;
        Conversion conv = ReadConversion(p);

        switch (*p) {
        case u'd': {
            int64_t value = conv.wide ? va_arg(args, int64_t) : va_arg(args, int32_t);
            uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
            PutDigits(out, conv, magnitude, 10, value < 0);
            break;
        }
        case u'u':
        case u'x':
        case u'X': {
            uint64_t value = conv.wide ? va_arg(args, uint64_t) : va_arg(args, uint32_t);
            PutDigits(out, conv, value, *p == u'u' ? 10 : 16, false);
            break;
        }
        case u'c': {
            auto unit = static_cast<char16_t>(va_arg(args, uint32_t) & 0xFFFF);
            if (unit != 0)
                out.Put(unit);
            break;
        }
        case u's':
            PutWideString(out, conv, va_arg(args, const char16_t*));
            break;
        case u'a':
            PutNarrowString(out, conv, va_arg(args, const char*));
            break;
        case u'%':
            out.Put(u'%');
            break;
        default:
            // Not a conversion we know: copy it through, value untouched.
            for (const char16_t* q = start; q < p && *q; ++q)
                out.Put(*q);
            if (*p == 0)
                return out.Finish();
            out.Put(*p);
            break;
        }
        ++p;
    }
    return out.Finish();
}

size_t Utf16ToUtf8(const char16_t* text, size_t units, char* out, size_t capacity)
{
    if (capacity == 0)
        return 0;
    size_t length = 0;
    auto fits = [&](size_t n) { return length + n < capacity; };
    for (size_t i = 0; i < units; ++i) {
        uint32_t code = text[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < units && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = REPLACEMENT;
        }
        uint8_t bytes[4];
        size_t n;
        if (code < 0x80) {
            bytes[0] = static_cast<uint8_t>(code);
            n = 1;
        } else if (code < 0x800) {
            bytes[0] = static_cast<uint8_t>(0xC0 | (code >> 6));
            bytes[1] = static_cast<uint8_t>(0x80 | (code & 0x3F));
            n = 2;
        } else if (code < 0x10000) {
            bytes[0] = static_cast<uint8_t>(0xE0 | (code >> 12));
            bytes[1] = static_cast<uint8_t>(0x80 | ((code >> 6) & 0x3F));
            bytes[2] = static_cast<uint8_t>(0x80 | (code & 0x3F));
            n = 3;
        } else {
            bytes[0] = static_cast<uint8_t>(0xF0 | (code >> 18));
            bytes[1] = static_cast<uint8_t>(0x80 | ((code >> 12) & 0x3F));
            bytes[2] = static_cast<uint8_t>(0x80 | ((code >> 6) & 0x3F));
            bytes[3] = static_cast<uint8_t>(0x80 | (code & 0x3F));
            n = 4;
        }
        if (!fits(n))
            break;
        for (size_t k = 0; k < n; ++k)
            out[length++] = static_cast<char>(bytes[k]);
    }
    out[length] = 0;
    return length;
}

namespace {
ConsoleTap gConsoleTap = nullptr;
}  // namespace

void SetConsoleTap(ConsoleTap tap)
{
    gConsoleTap = tap;
}

size_t Redraw(const char16_t* format, ...)
{
    char16_t buffer[FORMAT_BUFFER_UNITS];
    va_list args;
    va_start(args, format);
    size_t length = FormatText(buffer, format, args);
    va_end(args);
    return ConsoleRedraw(buffer, length) ? length : 0;
}

size_t Print(const char16_t* format, ...)
{
    char16_t buffer[FORMAT_BUFFER_UNITS];
    va_list args;
    va_start(args, format);
    size_t length = FormatText(buffer, format, args);
    va_end(args);
    if (gConsoleTap)
        gConsoleTap(buffer, length);
    return ConsoleOutput(buffer, length) ? length : 0;
}

uint32_t DecodeUtf8Sequence(const uint8_t* bytes, size_t size, size_t* length)
{
    *length = 1;
    uint32_t lead = size ? bytes[0] : 0;
    size_t n = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3
             : lead >= 0xF0 && lead < 0xF5 ? 4 : 0;
    if (n == 0 || n > size)
        return UTF8_MALFORMED;
    uint32_t code = n == 1 ? lead : lead & (0x7Fu >> n);
    for (size_t k = 1; k < n; ++k) {
        if ((bytes[k] & 0xC0) != 0x80)
            return UTF8_MALFORMED;
        code = (code << 6) | (bytes[k] & 0x3Fu);
    }
    static constexpr uint32_t MIN_CODE[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < MIN_CODE[n] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        return UTF8_MALFORMED;
    *length = n;
    return code;
}

}  // namespace zar
