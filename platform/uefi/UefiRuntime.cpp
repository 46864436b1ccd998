#include "platform/uefi/UefiRuntime.h"

#include "platform/Format.h"

namespace zar::uefi {

Firmware gFirmware;

namespace {

EFI_GUID gShellParametersGuid = EFI_SHELL_PARAMETERS_PROTOCOL_GUID;
EFI_GUID gShellInterfaceGuid = SHELL_INTERFACE_PROTOCOL_GUID;
EFI_GUID gShellGuid = EFI_SHELL_PROTOCOL_GUID;

void* ImageProtocol(EFI_GUID* guid)
{
    void* interface = nullptr;
    EFI_STATUS status = gFirmware.Boot->OpenProtocol(gFirmware.Image, guid, &interface, gFirmware.Image, nullptr,
                                                     EFI_OPEN_PROTOCOL_GET_PROTOCOL);
    return EFI_ERROR(status) ? nullptr : interface;
}

size_t TextLength(const CHAR16* text)
{
    size_t length = 0;
    while (text[length])
        ++length;
    return length;
}

// One argument in pool memory of its own: a UTF-16 unit never needs more than
// three UTF-8 bytes (a surrogate pair takes four for two units).
char* ArgumentToUtf8(const CHAR16* text)
{
    size_t units = TextLength(text);
    if (units > (SIZE_MAX - 1) / 3)
        return nullptr;
    size_t capacity = units * 3 + 1;
    void* copy = nullptr;
    if (EFI_ERROR(gFirmware.Boot->AllocatePool(EfiLoaderData, capacity, &copy)))
        return nullptr;
    Utf16ToUtf8(reinterpret_cast<const char16_t*>(text), units, static_cast<char*>(copy), capacity);
    return static_cast<char*>(copy);
}

}  // namespace

ArgumentResult CollectArguments(ArgumentList* list)
{
    *list = ArgumentList{};
    if (auto* parameters = static_cast<EFI_SHELL_PARAMETERS_PROTOCOL*>(ImageProtocol(&gShellParametersGuid)))
        return CopyArguments(parameters->Argv, parameters->Argc, list);
    if (auto* shell = static_cast<EFI_SHELL_INTERFACE*>(ImageProtocol(&gShellInterfaceGuid)))
        return CopyArguments(shell->Argv, shell->Argc, list);
    return ArgumentResult::NoShell;
}

ArgumentResult CopyArguments(CHAR16** argv, UINTN argc, ArgumentList* list)
{
    *list = ArgumentList{};
    if (argv == nullptr)
        argc = 0;
    for (UINTN i = 0; i < argc; ++i) {
        if (argv[i] == nullptr) {
            argc = i;
            break;
        }
    }
    if (argc > static_cast<UINTN>(MAX_ARGUMENTS))
        return ArgumentResult::TooMany;

    void* table = nullptr;
    if (EFI_ERROR(gFirmware.Boot->AllocatePool(EfiLoaderData, (argc + 1) * sizeof(char*), &table)))
        return ArgumentResult::OutOfMemory;
    list->Values = static_cast<char**>(table);
    for (UINTN i = 0; i <= argc; ++i)
        list->Values[i] = nullptr;
    for (UINTN i = 0; i < argc; ++i) {
        list->Values[i] = ArgumentToUtf8(argv[i]);
        if (list->Values[i] == nullptr) {
            FreeArguments(list);
            return ArgumentResult::OutOfMemory;
        }
        list->Count = static_cast<int>(i + 1);
    }
    return ArgumentResult::Ready;
}

void FreeArguments(ArgumentList* list)
{
    if (list->Values) {
        for (int i = 0; list->Values[i]; ++i)
            gFirmware.Boot->FreePool(list->Values[i]);
        gFirmware.Boot->FreePool(list->Values);
    }
    *list = ArgumentList{};
}

char16_t* WidenFileName(const char* name)
{
    size_t bytes = 0;
    while (name[bytes])
        ++bytes;
    // Never more UTF-16 units than UTF-8 bytes.
    void* memory = nullptr;
    if (EFI_ERROR(gFirmware.Boot->AllocatePool(EfiLoaderData, (bytes + 1) * sizeof(char16_t), &memory)))
        return nullptr;
    auto* wide = static_cast<char16_t*>(memory);
    auto* in = reinterpret_cast<const uint8_t*>(name);
    size_t out = 0;
    for (size_t i = 0; i < bytes;) {
        size_t length = 1;
        uint32_t code = DecodeUtf8Sequence(in + i, bytes - i, &length);
        i += length;
        if (code == UTF8_MALFORMED) {
            code = 0xFFFD;
        } else if (code >= 0x10000) {
            // Four bytes in, two units out.
            code -= 0x10000;
            wide[out++] = static_cast<char16_t>(0xD800 + (code >> 10));
            wide[out++] = static_cast<char16_t>(0xDC00 + (code & 0x3FF));
            continue;
        }
        wide[out++] = code == '/' ? u'\\' : static_cast<char16_t>(code);
    }
    wide[out] = 0;
    return wide;
}

void AbortApplication(EFI_STATUS status)
{
    // The DXE core asserts that an image returns at the TPL it was started at
    // (Core/Dxe/Image/Image.c, CoreStartImage).
    RestoreApplicationTpl();
    CloseAllFiles();
    CloseVolume();
    if (gFirmware.Boot)
        gFirmware.Boot->Exit(gFirmware.Image, status, 0, nullptr);
    for (;;)
        __asm__ volatile("hlt");
}

namespace {

void Say(const char16_t* text)
{
    gFirmware.System->ConOut->OutputString(gFirmware.System->ConOut,
                                           reinterpret_cast<CHAR16*>(const_cast<char16_t*>(text)));
}

// The words from the Shell, or from where a run without one keeps them.
// The Shell protocol serves files and the Ctrl-C event only to a program the
// Shell started: without its parameters, names are the image folder's.
EFI_STATUS GatherWords(ArgumentList* arguments)
{
    ArgumentResult result = CollectArguments(arguments);
    if (result == ArgumentResult::NoShell) {
        result = CollectWordsWithoutShell(arguments);
    } else {
        void* shell = nullptr;
        if (!EFI_ERROR(gFirmware.Boot->LocateProtocol(&gShellGuid, nullptr, &shell)))
            gFirmware.Shell = static_cast<EFI_SHELL_PROTOCOL*>(shell);
    }
    switch (result) {
    case ArgumentResult::NoShell:
    case ArgumentResult::Refused:
        return EFI_LOAD_ERROR;
    case ArgumentResult::OutOfMemory:
        return EFI_OUT_OF_RESOURCES;
    case ArgumentResult::TooMany:
        static_assert(MAX_ARGUMENTS == 4096, "the message names the bound");
        Say(u"Too many arguments: at most 4096 are taken; nothing was done.\r\n");
        return EFI_INVALID_PARAMETER;
    case ArgumentResult::Ready:
        break;
    }
    return EFI_SUCCESS;
}

}  // namespace

EFI_STATUS RunApplication(EFI_HANDLE image, EFI_SYSTEM_TABLE* system, Program program)
{
    gFirmware = Firmware{image, system, system->BootServices, nullptr, nullptr};
    SetRunEnding(RunEnding{});

    static ArgumentList arguments;
    EFI_STATUS status = GatherWords(&arguments);
    if (status == EFI_SUCCESS)
        status = program(arguments.Count, arguments.Values);

    RestoreApplicationTpl();
    CloseAllFiles();
    CloseVolume();
    FreeArguments(&arguments);
    EndRun(status);
    if (gFirmware.Folder)
        gFirmware.Boot->FreePool(gFirmware.Folder);
    gFirmware = Firmware{};
    return status;
}

}  // namespace zar::uefi
