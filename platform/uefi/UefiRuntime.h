// Our small UEFI runtime: how an application started from the UEFI Shell gets
// its command line, console, files and heap. platform/uefi/*.cpp provide the
// services of platform/Platform.h on top of it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/Machine.h"
#include "platform/uefi/Efi.h"

namespace zar::uefi {

// What the services need of the firmware, set up by RunShellApplication.
struct Firmware {
    EFI_HANDLE Image = nullptr;
    EFI_SYSTEM_TABLE* System = nullptr;
    EFI_BOOT_SERVICES* Boot = nullptr;
    // Files go through the Shell when it is there, so names are resolved the
    // way the user typed them (current directory, fs0: mappings).
    EFI_SHELL_PROTOCOL* Shell = nullptr;
    // Otherwise through the volume the image was loaded from; opened on the
    // first file access.
    EFI_FILE_PROTOCOL* Root = nullptr;
};
extern Firmware gFirmware;

// The command line as the program gets it: UTF-8 copies of every one of the
// Shell's arguments, in a table from pool memory with Values[Count] null.
// The program always sees the whole line: one longer than MAX_ARGUMENTS is
// refused before the program runs, never cut.
constexpr int MAX_ARGUMENTS = 4096;
struct ArgumentList {
    int Count = 0;
    char** Values = nullptr;
};

enum class ArgumentResult { Ready, NoShell, OutOfMemory, TooMany };

// Reads the command line from the Shell's parameters protocol on the image
// handle, or from the older Shell interface protocol. The Shell's count is
// trusted no further than its table: a null entry ends the line.
ArgumentResult CollectArguments(ArgumentList* list);
void FreeArguments(ArgumentList* list);

// Converts a UTF-8 file name to UTF-16 in pool memory, '/' turned into '\'.
// Malformed UTF-8 becomes U+FFFD. nullptr when out of memory.
char16_t* WidenFileName(const char* name);

// The machine's identity from SMBIOS type 1, found through the system
// table's configuration table (the 3.x entry point first, then 2.x). What
// can't be found, or sits in a malformed table, stays empty.
void ReadSmbiosIdentity(const EFI_SYSTEM_TABLE* system, MachineIdentity* identity);

// Closes every file the program left open; returns how many there were.
int CloseAllFiles();
// Closes the image's volume if the file services opened it.
void CloseVolume();

// The TPL around an uninterrupted span of port traffic (zar.efi's
// HoldFirmwareEvents): raised to TPL_NOTIFY, and back to the level it was
// raised from. Neither nests; a second raise or a restore without one does
// nothing.
void RaiseToNotify();
void RestoreApplicationTpl();

// Ends the application at once with status, after restoring its TPL and
// closing its files.
[[noreturn]] void AbortApplication(EFI_STATUS status);

using Program = EFI_STATUS (*)(int argc, char* argv[]);

// The whole life of a Shell application: set up, collect the command line,
// run program, close what it left open, release the command line.
EFI_STATUS RunShellApplication(EFI_HANDLE image, EFI_SYSTEM_TABLE* system, Program program);

}  // namespace zar::uefi
