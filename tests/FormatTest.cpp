// The console formatter: the same digits as the C library where the two
// agree, and its own line-break and length rules where they don't.
#include <gtest/gtest.h>
#include <stdarg.h>
#include <stdio.h>

#include <climits>
#include <string>

#include "platform/Format.h"
#include "platform/Platform.h"
#include "platform/hosted/HostConsole.h"

namespace zar {
namespace {

std::string Format(const char16_t* format, ...)
{
    char16_t buffer[FORMAT_BUFFER_UNITS];
    va_list args;
    va_start(args, format);
    size_t length = FormatText(buffer, format, args);
    va_end(args);
    char bytes[FORMAT_BUFFER_UNITS * 3 + 1];
    Utf16ToUtf8(buffer, length, bytes, sizeof bytes);
    EXPECT_EQ(buffer[length], 0);
    return bytes;
}

std::string C(const char* format, int value)
{
    char out[64];
    snprintf(out, sizeof out, format, value);
    return out;
}

TEST(Format, NumbersAgreeWithTheCLibrary)
{
    const int values[] = {0, 1, -1, 9, 10, 0xAB, 0x1F, 0xFFFF, 0x10000, 0x12345, INT_MAX, INT_MIN, 0x7F, -0x80};
    for (int v : values) {
        SCOPED_TRACE(v);
        EXPECT_EQ(Format(u"%d", v), C("%d", v));
        EXPECT_EQ(Format(u"%x", v), C("%X", v));  // upper-case digits, like %X
        EXPECT_EQ(Format(u"%X", v), C("%X", v));
        EXPECT_EQ(Format(u"%04X", v), C("%04X", v));
        EXPECT_EQ(Format(u"%u", v), C("%u", v));
        EXPECT_EQ(Format(u"%5d|%-5d|", v, v), C("%5d|", v) + C("%-5d|", v));
    }
}

TEST(Format, ValuesAreReadAsThirtyTwoBits)
{
    EXPECT_EQ(Format(u"%x", 0xAB), "AB");
    EXPECT_EQ(Format(u"%x", 0), "0");
    EXPECT_EQ(Format(u"%04X", 0x1F), "001F");
    EXPECT_EQ(Format(u"%04X", 0x1ABCD), "1ABCD");
    EXPECT_EQ(Format(u"%d", -1), "-1");
    EXPECT_EQ(Format(u"%x", -1), "FFFFFFFF");
    // Bytes promoted from uint8_t, as the flasher passes them
    uint8_t id[4] = {0xBF, 0x25, 0x8E, 0x00};
    EXPECT_EQ(Format(u"%x %x %x %x ", id[0], id[1], id[2], id[3]), "BF 25 8E 0 ");
    EXPECT_EQ(Format(u"%lx %ld", 0x123456789ull, -5ll), "123456789 -5");
}

TEST(Format, CharactersAndStrings)
{
    EXPECT_EQ(Format(u"[%c]", 'A'), "[A]");
    EXPECT_EQ(Format(u"[%c]", 0x10041), "[A]");  // low 16 bits
    EXPECT_EQ(Format(u"[%c]", 0), "[]");         // a NUL would end the console string
    EXPECT_EQ(Format(u"%s|%a", u"wide", "narrow"), "wide|narrow");
    EXPECT_EQ(Format(u"%a", "\xC3\xA9t\xC3\xA9"), "\xC3\xA9t\xC3\xA9");  // UTF-8 in, UTF-8 out
    EXPECT_EQ(Format(u"%a", "\xFF"), "\xEF\xBF\xBD");                   // malformed: U+FFFD
    EXPECT_EQ(Format(u"%-6a|", "ab"), "ab    |");
    EXPECT_EQ(Format(u"100%%"), "100%");
    EXPECT_EQ(Format(u"%q %d", 7), "%q 7");  // unknown: copied, value not consumed
    EXPECT_EQ(Format(u"end%"), "end%");
}

TEST(Format, LineBreaksBecomeOneCrLfEach)
{
    EXPECT_EQ(Format(u"\n\rModule is:"), "\r\nModule is:");
    EXPECT_EQ(Format(u" -- Erase OK. \n\n"), " -- Erase OK. \r\n\r\n");
    EXPECT_EQ(Format(u"a\r\nb"), "a\r\nb");
    EXPECT_EQ(Format(u"a\rb"), "a\rb");
    EXPECT_EQ(Format(u"\n\r\n"), "\r\n\r\n");
    EXPECT_EQ(Format(u"\r\n\r"), "\r\n\r");
    EXPECT_EQ(Format(u"\n\n\r"), "\r\n\r\n");
}

TEST(Format, OutputIsCutAfter320Characters)
{
    std::u16string longText(400, u'x');
    std::string out = Format(longText.c_str());
    EXPECT_EQ(out, std::string(320, 'x'));

    // A line break counts as the two units it becomes.
    std::u16string breaks = std::u16string(319, u'y') + u"\nz";
    EXPECT_EQ(Format(breaks.c_str()), std::string(319, 'y') + "\r");

    // Long conversions are cut too, without overrunning the buffer.
    std::string wide(1000, 'w');
    EXPECT_EQ(Format(u"%a", wide.c_str()).size(), 320u);
    EXPECT_EQ(Format(u"%0900d", 5).size(), 320u);
}

TEST(Format, Utf16ToUtf8HandlesSurrogatesAndSmallBuffers)
{
    char out[16];
    const char16_t pair[] = {0xD83D, 0xDE00, 0};  // U+1F600
    EXPECT_EQ(Utf16ToUtf8(pair, 2, out, sizeof out), 4u);
    EXPECT_STREQ(out, "\xF0\x9F\x98\x80");
    const char16_t lone[] = {u'a', 0xD800, u'b', 0};
    Utf16ToUtf8(lone, 3, out, sizeof out);
    EXPECT_STREQ(out, "a\xEF\xBF\xBD" "b");
    const char16_t text[] = u"abcdef";
    EXPECT_EQ(Utf16ToUtf8(text, 6, out, 4), 3u);  // never a split character, always a NUL
    EXPECT_STREQ(out, "abc");
    const char16_t accented[] = {0xE9, 0xE9, 0};
    EXPECT_EQ(Utf16ToUtf8(accented, 2, out, 4), 2u);  // the second é does not fit
}

TEST(Format, PrintReturnsTheCountOrZeroWhenTheConsoleFails)
{
    struct FailingConsole : hosted::ConsoleSink {
        bool Text(const char16_t*, size_t) override { return false; }
        void Attribute(uintptr_t) override {}
        void Clear() override {}
        void Cursor(uintptr_t, uintptr_t) override {}
    } failing;
    hosted::ScopedCapture capture;
    EXPECT_EQ(Print(u"ab\n"), 4u);
    EXPECT_EQ(capture.Output(), "ab\r\n");
    hosted::SetConsoleSink(&failing);
    EXPECT_EQ(Print(u"ab\n"), 0u);
    hosted::SetConsoleSink(nullptr);
}

}  // namespace
}  // namespace zar
