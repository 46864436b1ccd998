// Just enough of a UEFI machine, in memory, to run our UEFI runtime on Linux:
// boot services (pool, protocols), a text console, the Shell's file services
// and a volume for the case without a Shell. Everything it hands out is
// counted, so tests can tell what was left open or allocated.
#pragma once

#include <stdint.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/uefi/UefiRuntime.h"

namespace zar::test {

class FakeFirmware {
public:
    struct Options {
        bool ShellParameters = true;  // EFI_SHELL_PARAMETERS_PROTOCOL on the image
        bool ShellInterface = false;  // the older Shell interface on the image
        bool Shell = true;            // EFI_SHELL_PROTOCOL
        bool ExecutionBreak = true;   // the Shell's Ctrl-C event
    };

    explicit FakeFirmware(Options options);
    explicit FakeFirmware() : FakeFirmware(Options{}) {}
    ~FakeFirmware();

    EFI_HANDLE Image() { return &imageHandle_; }
    EFI_SYSTEM_TABLE* System() { return &system_; }

    // The command line the Shell hands over (UTF-16, as typed).
    void SetArguments(std::vector<std::u16string> arguments);
    // The loaded image's load options (what a boot option's optional data
    // becomes) and its file path on the volume (one MEDIA_FILEPATH_DP node).
    void SetLoadOptions(std::vector<uint8_t> options);
    void SetImagePath(const std::u16string& path);

    // The system table's configuration table (SMBIOS entry points and such).
    void SetConfigurationTables(std::vector<EFI_CONFIGURATION_TABLE> tables);
    // What GetTime answers.
    EFI_TIME time{};
    EFI_STATUS timeStatus = EFI_SUCCESS;

    // The Shell's environment, as GetEnv answers it.
    std::map<std::u16string, std::u16string> environment;
    bool stallFails = false;

    // The disk: files by the name the firmware is asked for.
    std::map<std::u16string, std::vector<uint8_t>> files;
    std::set<std::u16string> directories;
    std::vector<std::u16string> openedNames;

    // Faults
    int poolFailAfter = -1;        // allocations that still succeed; -1: never fail
    size_t readChunk = SIZE_MAX;   // a read delivers at most this many bytes
    bool flushFails = false;

    // The TPL and the Shell's Ctrl-C
    EFI_TPL tpl = TPL_APPLICATION;
    std::vector<EFI_TPL> tplCalls;           // the level each RaiseTPL and RestoreTPL set, in order
    bool breakSignalled = false;             // Ctrl-C was pressed
    int breakChecks = 0;

    // The end of a run: keys to read, the waits, the reset asked for.
    std::u16string keys;
    int keyResets = 0;
    bool stallSleeps = true;
    int stalls = 0;
    int watchdogDisables = 0;
    int resetType = -1;            // EFI_RESET_TYPE of the ResetSystem call; -1: none

    std::u16string console;        // what OutputString received
    int openHandles = 0;
    int liveAllocations = 0;
    bool volumeOpen = false;

    struct Handle;

private:
    static FakeFirmware* current_;
    static Handle* ToHandle(void* handle) { return static_cast<Handle*>(handle); }

    // Boot services
    static EFI_STATUS EFIAPI AllocatePool(EFI_MEMORY_TYPE, UINTN size, VOID** buffer);
    static EFI_STATUS EFIAPI FreePool(VOID* buffer);
    static EFI_STATUS EFIAPI OpenProtocol(EFI_HANDLE handle, EFI_GUID* guid, VOID** interface, EFI_HANDLE, EFI_HANDLE,
                                          UINT32);
    static EFI_STATUS EFIAPI LocateProtocol(EFI_GUID* guid, VOID*, VOID** interface);
    static EFI_STATUS EFIAPI Stall(UINTN microseconds);
    static CONST CHAR16* EFIAPI GetEnv(CONST CHAR16* name);
    static EFI_TPL EFIAPI RaiseTPL(EFI_TPL tpl);
    static VOID EFIAPI RestoreTPL(EFI_TPL tpl);
    static EFI_STATUS EFIAPI CheckEvent(EFI_EVENT event);
    static EFI_STATUS EFIAPI SetWatchdogTimer(UINTN timeout, UINT64, UINTN, CHAR16*);
    static EFI_STATUS EFIAPI ResetSystem(EFI_RESET_TYPE type, EFI_STATUS, UINTN, CHAR16*);
    static EFI_STATUS EFIAPI ResetKeys(SIMPLE_INPUT_INTERFACE*, BOOLEAN);
    static EFI_STATUS EFIAPI ReadKey(SIMPLE_INPUT_INTERFACE*, EFI_INPUT_KEY* key);
    // Runtime services
    static EFI_STATUS EFIAPI GetTime(EFI_TIME* time, EFI_TIME_CAPABILITIES*);
    // Console
    static EFI_STATUS EFIAPI OutputString(SIMPLE_TEXT_OUTPUT_INTERFACE*, CHAR16* text);
    // Shell file services
    static EFI_STATUS EFIAPI OpenFileByName(CONST CHAR16* name, SHELL_FILE_HANDLE* handle, UINT64 mode);
    static EFI_STATUS EFIAPI CloseFile(SHELL_FILE_HANDLE handle);
    static EFI_STATUS EFIAPI DeleteFile(SHELL_FILE_HANDLE handle);
    static EFI_STATUS EFIAPI ReadFile(SHELL_FILE_HANDLE handle, UINTN* size, VOID* buffer);
    static EFI_STATUS EFIAPI WriteFile(SHELL_FILE_HANDLE handle, UINTN* size, VOID* buffer);
    static EFI_STATUS EFIAPI GetFilePosition(SHELL_FILE_HANDLE handle, UINT64* position);
    static EFI_STATUS EFIAPI SetFilePosition(SHELL_FILE_HANDLE handle, UINT64 position);
    static EFI_STATUS EFIAPI GetFileSize(SHELL_FILE_HANDLE handle, UINT64* size);
    static EFI_STATUS EFIAPI FlushFile(SHELL_FILE_HANDLE handle);
    static EFI_FILE_INFO* EFIAPI GetFileInfo(SHELL_FILE_HANDLE handle);
    static EFI_STATUS EFIAPI SetFileInfo(SHELL_FILE_HANDLE handle, CONST EFI_FILE_INFO* info);
    // The image's volume
    static EFI_STATUS EFIAPI OpenVolume(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL*, EFI_FILE_PROTOCOL** root);
    static EFI_STATUS EFIAPI VolumeOpen(EFI_FILE_PROTOCOL* self, EFI_FILE_PROTOCOL** file, CHAR16* name, UINT64 mode,
                                        UINT64);
    static EFI_STATUS EFIAPI VolumeClose(EFI_FILE_PROTOCOL* self);
    static EFI_STATUS EFIAPI VolumeDelete(EFI_FILE_PROTOCOL* self);
    static EFI_STATUS EFIAPI VolumeRead(EFI_FILE_PROTOCOL* self, UINTN* size, VOID* buffer);
    static EFI_STATUS EFIAPI VolumeWrite(EFI_FILE_PROTOCOL* self, UINTN* size, VOID* buffer);
    static EFI_STATUS EFIAPI VolumeGetPosition(EFI_FILE_PROTOCOL* self, UINT64* position);
    static EFI_STATUS EFIAPI VolumeSetPosition(EFI_FILE_PROTOCOL* self, UINT64 position);
    static EFI_STATUS EFIAPI VolumeGetInfo(EFI_FILE_PROTOCOL* self, EFI_GUID*, UINTN* size, VOID* buffer);
    static EFI_STATUS EFIAPI VolumeSetInfo(EFI_FILE_PROTOCOL* self, EFI_GUID*, UINTN, VOID* buffer);
    static EFI_STATUS EFIAPI VolumeFlush(EFI_FILE_PROTOCOL* self);

    EFI_STATUS Open(const CHAR16* name, UINT64 mode, Handle** handle);
    EFI_FILE_INFO* Info(Handle* handle);

    Options options_;
    int imageHandle_ = 0;
    int breakEvent_ = 0;
    int deviceHandle_ = 0;
    EFI_SYSTEM_TABLE system_{};
    EFI_BOOT_SERVICES boot_{};
    EFI_RUNTIME_SERVICES runtime_{};
    std::vector<EFI_CONFIGURATION_TABLE> configuration_;
    SIMPLE_TEXT_OUTPUT_INTERFACE conOut_{};
    SIMPLE_INPUT_INTERFACE conIn_{};
    std::vector<uint8_t> loadOptions_;
    std::vector<uint8_t> imagePath_;
    EFI_SHELL_PROTOCOL shell_{};
    EFI_SHELL_PARAMETERS_PROTOCOL parameters_{};
    EFI_SHELL_INTERFACE interface_{};
    EFI_LOADED_IMAGE_PROTOCOL loadedImage_{};
    EFI_SIMPLE_FILE_SYSTEM_PROTOCOL fileSystem_{};
    std::unique_ptr<Handle> root_;
    std::vector<std::u16string> argumentText_;
    std::vector<CHAR16*> argv_;
};

std::u16string U16(const char* ascii);

}  // namespace zar::test
