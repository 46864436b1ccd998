#include "platform/uefi/CommandWords.h"

#include "platform/Format.h"

namespace zar::uefi {
namespace {

bool IsBlank(uint32_t code)
{
    return code == ' ' || code == '\t' || code == '\r' || code == '\n';
}

// What a command line may hold: characters and blanks. NUL and the other
// C0 and C1 controls, DEL and the two noncharacters mark a binary file.
bool IsTextCharacter(uint32_t code)
{
    if (IsBlank(code))
        return true;
    return code >= 0x20 && !(code >= 0x7F && code <= 0x9F) && code != 0xFFFE && code != 0xFFFF;
}

enum class Encoding : uint8_t { Utf8, Utf16Little, Utf16Big };

// The byte-order mark, if any: the encoding and the bytes it takes.
Encoding ReadMark(const uint8_t* bytes, size_t size, size_t* skip)
{
    *skip = 0;
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        *skip = 2;
        return Encoding::Utf16Little;
    }
    if (size >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        *skip = 2;
        return Encoding::Utf16Big;
    }
    if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
        *skip = 3;
    return Encoding::Utf8;
}

uint32_t Unit16(const uint8_t* at, Encoding encoding)
{
    return encoding == Encoding::Utf16Little ? at[0] | at[1] << 8 : at[0] << 8 | at[1];
}

// The code point at bytes[at], its length in *length; UTF8_MALFORMED for
// what is not text in the encoding (an odd byte at a UTF-16 file's end, an
// unpaired surrogate).
uint32_t NextCode(const uint8_t* bytes, size_t size, size_t at, Encoding encoding, size_t* length)
{
    if (encoding == Encoding::Utf8)
        return DecodeUtf8Sequence(bytes + at, size - at, length);
    *length = 2;
    if (size - at < 2)
        return UTF8_MALFORMED;
    uint32_t unit = Unit16(bytes + at, encoding);
    if (unit < 0xD800 || unit > 0xDFFF)
        return unit;
    if (unit > 0xDBFF || size - at < 4)
        return UTF8_MALFORMED;
    uint32_t low = Unit16(bytes + at + 2, encoding);
    if (low < 0xDC00 || low > 0xDFFF)
        return UTF8_MALFORMED;
    *length = 4;
    return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
}

// Lines of zar.args as they are decoded: each one written after the line of
// words kept so far, then kept, or dropped as a blank or comment line.
struct LineSink {
    char16_t* Out;
    size_t Capacity;
    size_t Kept = 0;     // units of the line of words, at Out[0]
    size_t End = 0;      // where the next unit goes
    size_t Line = 1;     // the line being read, from 1
    bool HaveWords = false;

    bool Put(uint32_t code)
    {
        size_t need = code >= 0x10000 ? 2 : 1;
        if (End + need >= Capacity || End + need > MAX_LINE_UNITS)
            return false;
        if (code >= 0x10000) {
            code -= 0x10000;
            Out[End++] = static_cast<char16_t>(0xD800 + (code >> 10));
            Out[End++] = static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            Out[End++] = static_cast<char16_t>(code);
        }
        return true;
    }

    LineProblem EndLine()
    {
        size_t first = Kept;
        while (first < End && IsBlank(Out[first]))
            ++first;
        bool words = first < End && Out[first] != u'#';
        if (words && HaveWords)
            return LineProblem::TwoLines;
        if (words) {
            HaveWords = true;
            Kept = End;
        }
        End = Kept;
        ++Line;
        return LineProblem::None;
    }
};

}  // namespace

LineCheck DecodeArgsFile(const uint8_t* bytes, size_t size, char16_t* out, size_t capacity, size_t* units)
{
    *units = 0;
    if (capacity == 0 || size > MAX_ARGS_FILE_BYTES)
        return {LineProblem::TooLong, 0};
    size_t at = 0;
    Encoding encoding = ReadMark(bytes, size, &at);
    LineSink sink{out, capacity};
    bool afterCr = false;
    while (at < size) {
        size_t length = 1;
        uint32_t code = NextCode(bytes, size, at, encoding, &length);
        if (code == UTF8_MALFORMED || !IsTextCharacter(code))
            return {LineProblem::NotText, at};
        at += length;
        // CR, LF and CR LF each end a line.
        bool lf = code == '\n';
        if ((lf && !afterCr) || code == '\r') {
            if (sink.EndLine() != LineProblem::None)
                return {LineProblem::TwoLines, sink.Line};
        } else if (!lf && !sink.Put(code)) {
            return {LineProblem::TooLong, 0};
        }
        afterCr = code == '\r';
    }
    if (sink.EndLine() != LineProblem::None)  // a last line without its line end
        return {LineProblem::TwoLines, sink.Line};
    if (!sink.HaveWords)
        return {LineProblem::NoWords, 0};
    out[sink.Kept] = 0;
    *units = sink.Kept;
    return {LineProblem::None, 0};
}

bool LoadOptionsAreText(const void* options, size_t size, size_t* units)
{
    *units = 0;
    if (options == nullptr || size < 2 || size % 2 != 0)
        return false;
    // Load options need not be aligned: read them byte by byte.
    const auto* bytes = static_cast<const uint8_t*>(options);
    size_t total = size / 2;
    size_t length = 0;
    while (length < total && Unit16(bytes + 2 * length, Encoding::Utf16Little) != 0)
        ++length;
    for (size_t i = length; i < total; ++i) {
        if (Unit16(bytes + 2 * i, Encoding::Utf16Little) != 0)
            return false;  // data after the text's end: not a command line
    }
    for (size_t at = 0; at < 2 * length;) {
        size_t step = 2;
        uint32_t code = NextCode(bytes, 2 * length, at, Encoding::Utf16Little, &step);
        if (code == UTF8_MALFORMED || !IsTextCharacter(code))
            return false;
        at += step;
    }
    *units = length;
    return length != 0;
}

LineCheck SplitWords(char16_t* text, size_t units, char16_t** words, size_t capacity, size_t* count)
{
    *count = 0;
    for (size_t i = 0; i < units; ++i) {
        if (IsBlank(text[i]))
            text[i] = u' ';
    }
    text[units] = 0;
    // Each word is copied to the left over its own quotes and escapes:
    // out never passes in, and a word's NUL takes the place of the blank
    // that ended it (or the room after the text).
    size_t in = 0;
    size_t out = 0;
    for (;;) {
        while (in < units && text[in] == u' ')
            ++in;
        if (in >= units)
            return {LineProblem::None, 0};
        if (*count == capacity)
            return {LineProblem::TooLong, 0};
        words[(*count)++] = text + out;
        bool quoted = false;
        for (; in < units && (quoted || text[in] != u' '); ++in) {
            if (text[in] == u'^') {
                if (++in < units)
                    text[out++] = text[in];
            } else if (text[in] == u'"') {
                quoted = !quoted;
            } else {
                text[out++] = text[in];
            }
        }
        if (quoted)
            return {LineProblem::OpenQuote, 0};
        if (in < units)
            ++in;  // the blank that ended the word, before its NUL may take its place
        text[out++] = 0;
    }
}

bool NamesTheProgram(const char16_t* word)
{
    const char16_t* name = word;
    for (const char16_t* c = word; *c; ++c) {
        if (*c == u'\\' || *c == u'/' || *c == u':')
            name = c + 1;
    }
    size_t length = 0;
    while (name[length])
        ++length;
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
    auto endsWith = [&](const char16_t* tail, size_t tailLength) {
        if (length < tailLength)
            return false;
        for (size_t i = 0; i < tailLength; ++i) {
            if (lower(name[length - tailLength + i]) != tail[i])
                return false;
        }
        return true;
    };
    return (length == 3 && endsWith(u"zar", 3)) || (length > 4 && endsWith(u".efi", 4));
}

}  // namespace zar::uefi
