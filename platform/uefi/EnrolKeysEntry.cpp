// enrol-keys.efi: writes Secure Boot key variables from the .auth files that
// efitools' sign-efi-sig-list makes, for a lab machine or a virtual one:
//
//   enrol-keys.efi db db.auth KEK KEK.auth PK PK.auth
//
// Each pair is written in the order given; the firmware checks each file's
// signature against the keys already enrolled (none in setup mode), so PK,
// which ends setup mode, comes last. The first refusal stops the run with
// the firmware's status. The new state takes effect at the next reset.
#include "platform/Platform.h"
#include "platform/uefi/UefiRuntime.h"

namespace {

using zar::Print;

// UEFI 2.10, 32.6.1: db and dbx live under the image security database GUID,
// PK and KEK under the global variable GUID.
EFI_GUID gGlobalVariableGuid = EFI_GLOBAL_VARIABLE;
EFI_GUID gImageSecurityDatabaseGuid = {0xD719B2CB, 0x3D3A, 0x4596, {0xA3, 0xBC, 0xDA, 0xD0, 0x0E, 0x67, 0x65, 0x6F}};

// The only attributes these variables accept (UEFI 2.10, 8.2.1).
constexpr UINT32 KEY_VARIABLE_ATTRIBUTES = EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS |
                                           EFI_VARIABLE_RUNTIME_ACCESS |
                                           EFI_VARIABLE_TIME_BASED_AUTHENTICATED_WRITE_ACCESS;

// An .auth file is a time stamp, a PKCS#7 signature and the signature list;
// a large db stays well under this.
constexpr int32_t MAX_AUTH_BYTES = 1 << 20;

struct KeyVariable {
    const char* Name;
    const char16_t* WideName;
    EFI_GUID* Guid;
};

const KeyVariable KEY_VARIABLES[] = {
    {"PK", u"PK", &gGlobalVariableGuid},
    {"KEK", u"KEK", &gGlobalVariableGuid},
    {"db", u"db", &gImageSecurityDatabaseGuid},
    {"dbx", u"dbx", &gImageSecurityDatabaseGuid},
};

const KeyVariable* FindKeyVariable(const char* name)
{
    for (const KeyVariable& variable : KEY_VARIABLES) {
        const char* a = variable.Name;
        const char* b = name;
        while (*a && *a == *b) {
            ++a;
            ++b;
        }
        if (*a == 0 && *b == 0)
            return &variable;
    }
    return nullptr;
}

// The whole file in heap memory; nullptr (after saying why) when it cannot
// be read whole.
uint8_t* ReadWholeFile(const char* name, size_t* size)
{
    zar::PlatformFile* file = zar::FileOpen(name, "rb");
    if (file == nullptr) {
        Print(u"enrol-keys: cannot open %a\n", name);
        return nullptr;
    }
    int32_t length = -1;
    if (zar::FileSeek(file, 0, zar::FILE_SEEK_END) == 0)
        length = zar::FileTell(file);
    uint8_t* data = nullptr;
    if (length <= 0 || length > MAX_AUTH_BYTES || zar::FileSeek(file, 0, zar::FILE_SEEK_SET) != 0) {
        Print(u"enrol-keys: %a is empty, too large or unreadable\n", name);
    } else if ((data = static_cast<uint8_t*>(zar::MemAlloc(static_cast<size_t>(length)))) == nullptr) {
        Print(u"enrol-keys: out of memory for %a\n", name);
    } else if (zar::FileRead(data, 1, static_cast<size_t>(length), file) != static_cast<size_t>(length)) {
        Print(u"enrol-keys: %a could not be read\n", name);
        zar::MemFree(data);
        data = nullptr;
    }
    zar::FileClose(file);
    if (data)
        *size = static_cast<size_t>(length);
    return data;
}

EFI_STATUS EnrolKeys(int argc, char* argv[])
{
    if (argc < 3 || argc % 2 == 0) {
        Print(u"usage: enrol-keys VARIABLE FILE.auth [VARIABLE FILE.auth]...\n"
              u"  VARIABLE is PK, KEK, db or dbx; PK goes last.\n");
        return EFI_INVALID_PARAMETER;
    }
    for (int i = 1; i < argc; i += 2) {
        if (FindKeyVariable(argv[i]) == nullptr) {
            Print(u"enrol-keys: %a is not a key variable (PK, KEK, db, dbx); nothing was written\n", argv[i]);
            return EFI_INVALID_PARAMETER;
        }
    }
    EFI_RUNTIME_SERVICES* runtime = zar::uefi::gFirmware.System->RuntimeServices;
    for (int i = 1; i < argc; i += 2) {
        const KeyVariable* variable = FindKeyVariable(argv[i]);
        size_t size = 0;
        uint8_t* data = ReadWholeFile(argv[i + 1], &size);
        if (data == nullptr)
            return EFI_LOAD_ERROR;
        EFI_STATUS status = runtime->SetVariable(reinterpret_cast<CHAR16*>(const_cast<char16_t*>(variable->WideName)),
                                                 variable->Guid, KEY_VARIABLE_ATTRIBUTES, size, data);
        zar::MemFree(data);
        if (EFI_ERROR(status)) {
            // EFI_SECURITY_VIOLATION: the file is not signed by a key the
            // firmware holds, or its time stamp is older than the variable's.
            Print(u"enrol-keys: %a refused by the firmware, status 0x%lx\n", variable->Name,
                  static_cast<uint64_t>(status));
            return status;
        }
        Print(u"enrol-keys: %a enrolled from %a (%u bytes)\n", variable->Name, argv[i + 1],
              static_cast<uint32_t>(size));
    }
    return EFI_SUCCESS;
}

}  // namespace

extern "C" EFI_STATUS EFIAPI efi_main(EFI_HANDLE image, EFI_SYSTEM_TABLE* system)
{
    return zar::uefi::RunApplication(image, system, EnrolKeys);
}
