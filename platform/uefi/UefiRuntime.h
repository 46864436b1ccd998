// Our small UEFI runtime: how an application gets its command line, console,
// files and heap, whether the UEFI Shell started it or the firmware's boot
// manager did (a boot option, or the stick's \EFI\BOOT\BOOTX64.EFI).
// platform/uefi/*.cpp provide the services of platform/Platform.h on top of it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/Machine.h"
#include "platform/RunEnding.h"
#include "platform/uefi/Efi.h"

namespace zar::uefi {

// Where a run without a Shell found its words (or did not), for the line
// that says so.
enum class WordsSource : uint8_t {
    Shell,          // the Shell's parameters
    LoadOptions,    // the boot option's load options
    ArgsFile,       // zar.args beside the program
    None,           // nowhere: the program runs with its name alone
};

// What the services need of the firmware, set up by RunApplication.
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
    // Without a Shell: the folder the image was loaded from ("\EFI\BOOT\",
    // from pool memory), which a relative name is taken from; nullptr for
    // the volume's root.
    char16_t* Folder = nullptr;
    WordsSource Words = WordsSource::Shell;
    uint32_t OptionBytes = 0;  // the load options' size, when they were no command line
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

enum class ArgumentResult { Ready, NoShell, OutOfMemory, TooMany, Refused };

// Reads the command line from the Shell's parameters protocol on the image
// handle, or from the older Shell interface protocol. The Shell's count is
// trusted no further than its table: a null entry ends the line.
ArgumentResult CollectArguments(ArgumentList* list);
// The words as UTF-8 copies in pool memory, whoever split them. The count is
// trusted no further than the table: a null entry ends the line.
ArgumentResult CopyArguments(CHAR16** argv, UINTN argc, ArgumentList* list);
void FreeArguments(ArgumentList* list);

// Without a Shell (UefiCommandLine.cpp): the words from the image's load
// options when they hold a command line, else from zar.args in the image's
// folder, else none but the program's name. Sets gFirmware.Folder and
// gFirmware.Words. Refused, after saying why, for a command line or a
// zar.args it can't use: the run then ends with EFI_LOAD_ERROR (status 2 in
// the README's table).
ArgumentResult CollectWordsWithoutShell(ArgumentList* list);

// Whether nothing of that name is on the volume (UefiFiles.cpp): a name that
// can't be opened for another reason is taken.
bool FileNameIsFree(const char* name);

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

// The program's wishes for its end (UefiEnding.cpp), kept until the end.
void SetRunEnding(const RunEnding& ending);

// Without a Shell a run ends with a line that says how it ended and a wait
// for a key, so that the last screen can be read before the boot manager
// takes it back: 30 s unless the program asked otherwise.
constexpr uint32_t DEFAULT_WAIT_SECONDS = 30;

// The end of every run, once its files are closed: the line and the wait
// (without a Shell, or when asked), then the reset or power-off the program
// asked for, only when status is EFI_SUCCESS. Returns when the machine stays up.
void EndRun(EFI_STATUS status);

using Program = EFI_STATUS (*)(int argc, char* argv[]);

// The whole life of an application: set up, collect the command line, run
// program, close what it left open, release the command line, end the run.
EFI_STATUS RunApplication(EFI_HANDLE image, EFI_SYSTEM_TABLE* system, Program program);

}  // namespace zar::uefi
