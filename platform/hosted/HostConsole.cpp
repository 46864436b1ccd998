#include "platform/hosted/HostConsole.h"

#include <stdarg.h>
#include <stdio.h>
#include <unistd.h>

#include "platform/Format.h"
#include "platform/Platform.h"
#include "platform/hosted/HostFirmware.h"

namespace zar::hosted {
namespace {

ConsoleSink* gSink = nullptr;

ConsoleSink& Sink()
{
    if (gSink)
        return *gSink;
    static StdoutConsole console(isatty(STDOUT_FILENO) == 1);
    return console;
}

std::string ToUtf8(const char16_t* text, size_t units)
{
    std::string bytes(units * 3 + 1, '\0');
    bytes.resize(Utf16ToUtf8(text, units, bytes.data(), bytes.size()));
    return bytes;
}

// EFI colours are in IRGB order, ANSI's in BGR.
int AnsiColour(unsigned efi)
{
    static const int map[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    return map[efi & 7];
}

}  // namespace

void SetConsoleSink(ConsoleSink* sink)
{
    gSink = sink;
}

bool StdoutConsole::Text(const char16_t* text, size_t units)
{
    std::string bytes = ToUtf8(text, units);
    bool ok = fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size();
    return fflush(stdout) == 0 && ok;
}

bool StdoutConsole::Redrawn(const char16_t* text, size_t units)
{
    return !ansi_ || Text(text, units);
}

void StdoutConsole::Attribute(uintptr_t attribute)
{
    if (!ansi_)
        return;
    unsigned fg = attribute & 0x0F, bg = (attribute >> 4) & 0x07;
    printf("\x1b[0;%s%d;%dm", fg & 8 ? "1;" : "", 30 + AnsiColour(fg), 40 + AnsiColour(bg));
    fflush(stdout);
}

void StdoutConsole::Clear()
{
    if (!ansi_)
        return;
    fputs("\x1b[2J\x1b[H", stdout);
    fflush(stdout);
}

void StdoutConsole::Cursor(uintptr_t column, uintptr_t row)
{
    if (!ansi_)
        return;
    printf("\x1b[%u;%uH", static_cast<unsigned>(row + 1), static_cast<unsigned>(column + 1));
    fflush(stdout);
}

bool CaptureConsole::Text(const char16_t* text, size_t units)
{
    output += ToUtf8(text, units);
    return true;
}

bool CaptureConsole::Redrawn(const char16_t* text, size_t units)
{
    redrawn += ToUtf8(text, units);
    return true;
}

void CaptureConsole::Attribute(uintptr_t attribute)
{
    char marker[32];
    snprintf(marker, sizeof marker, "{ATTR %02X}", static_cast<unsigned>(attribute));
    output += marker;
}

void CaptureConsole::Clear()
{
    output += "{CLS}";
}

void CaptureConsole::Cursor(uintptr_t column, uintptr_t row)
{
    char marker[48];
    snprintf(marker, sizeof marker, "{POS %u,%u}", static_cast<unsigned>(column), static_cast<unsigned>(row));
    output += marker;
}

}  // namespace zar::hosted

namespace zar {

bool ConsoleOutput(const char16_t* text, size_t units)
{
    hosted::NoteServiceCall();
    return hosted::Sink().Text(text, units);
}

bool ConsoleRedraw(const char16_t* text, size_t units)
{
    hosted::NoteServiceCall();
    return hosted::Sink().Redrawn(text, units);
}

void SetAttribute(uintptr_t attribute)
{
    hosted::NoteServiceCall();
    hosted::Sink().Attribute(attribute);
}

void ClearScreen()
{
    hosted::NoteServiceCall();
    hosted::Sink().Clear();
}

void SetCursorPosition(uintptr_t column, uintptr_t row)
{
    hosted::NoteServiceCall();
    hosted::Sink().Cursor(column, row);
}

}  // namespace zar
