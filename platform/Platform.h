// What the flasher needs of its surroundings: console, files, heap and the
// two EC ports. The logic calls only these; platform/hosted and
// platform/uefi provide them (and sim/ provides the ports for simulated runs).
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace zar {

// ---- Console ---------------------------------------------------------------

// Formats a UTF-16 format string into at most 320 characters and writes it to
// the console. Returns the number of characters formatted, or 0 when the
// console refused the text. Conversions: see platform/Format.h.
size_t Print(const char16_t* format, ...);

// Each platform's console: writes units UTF-16 units (NUL-terminated after
// them); false when the console refused the text.
bool ConsoleOutput(const char16_t* text, size_t units);

// Text that redraws the console's current line in place (a progress line,
// after a "\r"): formatted as Print, never shown to the tap, and left out
// by a console that is no screen (standard output into a file or a pipe).
// Whatever it drew, the line's last state is printed with Print.
size_t Redraw(const char16_t* format, ...);
// Each platform's way out for it, as ConsoleOutput's.
bool ConsoleRedraw(const char16_t* text, size_t units);

// Text attribute, as EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL.SetAttribute takes it.
constexpr uintptr_t CONSOLE_LIGHTGRAY_ON_BLACK = 0x07;

// A tap on the console: sees the text of every Print as formatted (never the
// screen controls below), whether or not the console took it. One at a time;
// nullptr removes it.
using ConsoleTap = void (*)(const char16_t* text, size_t units);
void SetConsoleTap(ConsoleTap tap);

void SetAttribute(uintptr_t attribute);
void ClearScreen();
void SetCursorPosition(uintptr_t column, uintptr_t row);

// ---- Files -----------------------------------------------------------------

struct PlatformFile;

constexpr int FILE_SEEK_SET = 0;
constexpr int FILE_SEEK_END = 2;

// mode is "rb" (read), "wb" (create or truncate, write), "ab" (create when
// missing, every write appended at the end) or "xb" (create a new file and
// write it; refused when anything of that name exists, whatever kind of file
// it is, a link to nowhere included). nullptr on failure. Only a regular file
// opens for reading, and no open waits: a pipe with nobody at its other end
// is refused, not waited for.
PlatformFile* FileOpen(const char* name, const char* mode);
// Deletes a closed file: 0, or -1.
int FileRemove(const char* name);
// Returns the number of elements delivered: fewer than count at the end of
// the file or when a read fails.
size_t FileRead(void* buffer, size_t size, size_t count, PlatformFile* file);
// True once a read came up short for another reason than the file's end.
bool FileReadFailed(PlatformFile* file);
// True when both names lead to one existing file, by the same name or not
// (as far as the platform can tell files apart).
bool SameFile(const char* first, const char* second);
size_t FileWrite(const void* buffer, size_t size, size_t count, PlatformFile* file);
int FileSeek(PlatformFile* file, int32_t offset, int whence);  // 0, or -1
int32_t FileTell(PlatformFile* file);                           // offset, or -1
int FileFlush(PlatformFile* file);                              // writes handed to the disk: 0, or -1
int FileClose(PlatformFile* file);                              // flushes and closes: 0, or -1

// ---- Memory ----------------------------------------------------------------

void* MemAlloc(size_t size);  // nullptr when exhausted or size is 0
void MemFree(void* block);    // nullptr is ignored
void MemSet(void* block, uint8_t value, size_t count);
void MemCopy(void* dest, const void* src, size_t count);

// ---- I/O ports -------------------------------------------------------------

// One 8-bit port access per call, in program order. On the UEFI flasher these
// are real in/out instructions; every other build routes them to the
// simulated EC.
uint8_t PortReadByte(uint16_t port);
void PortWriteByte(uint16_t port, uint8_t value);

// Provided with the ports: keeps the firmware's event notifications (the
// timer callbacks of its drivers, which may poll the EC's ports as well)
// from running until ReleaseFirmwareEvents. The pair does not nest: it is
// called through Uninterrupted (platform/Uninterrupted.h), which does.
// zar.efi raises the TPL; the simulated EC has no firmware around it.
void HoldFirmwareEvents();
void ReleaseFirmwareEvents();

// ---- The firmware around the run ---------------------------------------------

// Switches the firmware's watchdog off; it stays off after the run.
void DisableWatchdog();

// True when the user asked the running program to stop (Ctrl-C in the UEFI
// Shell) since the last call, which takes the request. False where nothing
// publishes one.
[[nodiscard]] bool TakeBreakRequest();

}  // namespace zar
