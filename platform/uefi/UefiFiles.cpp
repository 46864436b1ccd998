// Files through the Shell's file services, so that a name means what it means
// at the Shell prompt: relative to the current directory, or on a mapping
// such as fs0:. Without the Shell, names are on the volume the image was
// loaded from: relative to the image's folder when the boot manager started
// it (zar.args, the image and /log beside zar.efi), else to the root.
#include "platform/Faults.h"
#include "platform/Platform.h"
#include "platform/uefi/UefiRuntime.h"

namespace zar {

struct PlatformFile {
    bool InUse;
    bool Writable;
    bool Append;                // "ab": every write goes to the end
    SHELL_FILE_HANDLE Shell;    // opened through the Shell
    EFI_FILE_PROTOCOL* Volume;  // or through the image's volume
    bool ReadFailed;
    bool OnFullDisk;  // opened for writing while a write fault was armed
};

namespace {

using uefi::gFirmware;

EFI_GUID gFileInfoGuid = EFI_FILE_INFO_ID;
EFI_GUID gLoadedImageGuid = EFI_LOADED_IMAGE_PROTOCOL_GUID;
EFI_GUID gFileSystemGuid = EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID;

// Every open file has a slot here, so that none outlives the program.
constexpr int MAX_OPEN_FILES = 16;
PlatformFile gFiles[MAX_OPEN_FILES];

bool Valid(const PlatformFile* file)
{
    for (const PlatformFile& slot : gFiles) {
        if (&slot == file)
            return slot.InUse;
    }
    return false;
}

EFI_STATUS Read(PlatformFile* file, UINTN* size, void* buffer)
{
    return file->Shell ? gFirmware.Shell->ReadFile(file->Shell, size, buffer)
                       : file->Volume->Read(file->Volume, size, buffer);
}

EFI_STATUS Write(PlatformFile* file, UINTN* size, const void* buffer)
{
    void* data = const_cast<void*>(buffer);
    return file->Shell ? gFirmware.Shell->WriteFile(file->Shell, size, data)
                       : file->Volume->Write(file->Volume, size, data);
}

EFI_STATUS GetPosition(PlatformFile* file, UINT64* position)
{
    return file->Shell ? gFirmware.Shell->GetFilePosition(file->Shell, position)
                       : file->Volume->GetPosition(file->Volume, position);
}

EFI_STATUS SetPosition(PlatformFile* file, UINT64 position)
{
    return file->Shell ? gFirmware.Shell->SetFilePosition(file->Shell, position)
                       : file->Volume->SetPosition(file->Volume, position);
}

EFI_STATUS Flush(PlatformFile* file)
{
    return file->Shell ? gFirmware.Shell->FlushFile(file->Shell) : file->Volume->Flush(file->Volume);
}

EFI_STATUS Close(PlatformFile* file)
{
    return file->Shell ? gFirmware.Shell->CloseFile(file->Shell) : file->Volume->Close(file->Volume);
}

// The file's information in pool memory (the caller frees it), or nullptr.
EFI_FILE_INFO* GetInfo(PlatformFile* file)
{
    if (file->Shell)
        return gFirmware.Shell->GetFileInfo(file->Shell);
    UINTN size = 0;
    EFI_STATUS status = file->Volume->GetInfo(file->Volume, &gFileInfoGuid, &size, nullptr);
    if (status != EFI_BUFFER_TOO_SMALL)
        return nullptr;
    void* info = nullptr;
    if (EFI_ERROR(gFirmware.Boot->AllocatePool(EfiLoaderData, size, &info)))
        return nullptr;
    if (EFI_ERROR(file->Volume->GetInfo(file->Volume, &gFileInfoGuid, &size, info))) {
        gFirmware.Boot->FreePool(info);
        return nullptr;
    }
    return static_cast<EFI_FILE_INFO*>(info);
}

EFI_STATUS SetInfo(PlatformFile* file, EFI_FILE_INFO* info)
{
    return file->Shell ? gFirmware.Shell->SetFileInfo(file->Shell, info)
                       : file->Volume->SetInfo(file->Volume, &gFileInfoGuid, info->Size, info);
}

bool GetSize(PlatformFile* file, UINT64* size)
{
    if (file->Shell)
        return !EFI_ERROR(gFirmware.Shell->GetFileSize(file->Shell, size));
    EFI_FILE_INFO* info = GetInfo(file);
    if (info == nullptr)
        return false;
    *size = info->FileSize;
    gFirmware.Boot->FreePool(info);
    return true;
}

EFI_FILE_PROTOCOL* ImageVolume()
{
    if (gFirmware.Root)
        return gFirmware.Root;
    EFI_LOADED_IMAGE_PROTOCOL* image = nullptr;
    EFI_SIMPLE_FILE_SYSTEM_PROTOCOL* fileSystem = nullptr;
    if (EFI_ERROR(gFirmware.Boot->OpenProtocol(gFirmware.Image, &gLoadedImageGuid, reinterpret_cast<void**>(&image),
                                               gFirmware.Image, nullptr, EFI_OPEN_PROTOCOL_GET_PROTOCOL)) ||
        EFI_ERROR(gFirmware.Boot->OpenProtocol(image->DeviceHandle, &gFileSystemGuid,
                                               reinterpret_cast<void**>(&fileSystem), gFirmware.Image, nullptr,
                                               EFI_OPEN_PROTOCOL_GET_PROTOCOL)) ||
        EFI_ERROR(fileSystem->OpenVolume(fileSystem, &gFirmware.Root))) {
        gFirmware.Root = nullptr;
    }
    return gFirmware.Root;
}

bool HasMapping(const char16_t* name)
{
    for (; *name; ++name) {
        if (*name == u':')
            return true;
    }
    return false;
}

constexpr UINT64 OPEN_READ = EFI_FILE_MODE_READ;
constexpr UINT64 OPEN_WRITE = EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE;
constexpr UINT64 OPEN_CREATE = EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE | EFI_FILE_MODE_CREATE;

// name as the volume takes it: a relative name after the image's folder,
// in pool memory (the caller frees it); nullptr when out of memory.
char16_t* VolumePath(const char16_t* name)
{
    const char16_t* folder = gFirmware.Folder && name[0] != u'\\' ? gFirmware.Folder : u"";
    size_t folderLength = 0;
    size_t nameLength = 0;
    while (folder[folderLength])
        ++folderLength;
    while (name[nameLength])
        ++nameLength;
    void* memory = nullptr;
    if (EFI_ERROR(gFirmware.Boot->AllocatePool(EfiLoaderData, (folderLength + nameLength + 1) * sizeof(char16_t),
                                               &memory)))
        return nullptr;
    auto* path = static_cast<char16_t*>(memory);
    for (size_t i = 0; i < folderLength; ++i)
        path[i] = folder[i];
    for (size_t i = 0; i <= nameLength; ++i)
        path[folderLength + i] = name[i];
    return path;
}

// Without the Shell a mapping can't be resolved; a name with one is refused
// rather than looked up somewhere the user did not mean.
EFI_STATUS OpenOnVolume(PlatformFile* file, const char16_t* name, UINT64 mode)
{
    EFI_FILE_PROTOCOL* root = HasMapping(name) ? nullptr : ImageVolume();
    char16_t* path = root ? VolumePath(name) : nullptr;
    if (path == nullptr)
        return EFI_NOT_FOUND;
    EFI_STATUS status = root->Open(root, &file->Volume, reinterpret_cast<CHAR16*>(path), mode, 0);
    gFirmware.Boot->FreePool(path);
    return status;
}

// EFI_SUCCESS with a handle in file, or why not (EFI_NOT_FOUND: no such file).
EFI_STATUS OpenByName(PlatformFile* file, const char* name, UINT64 mode)
{
    char16_t* wide = uefi::WidenFileName(name);
    if (wide == nullptr)
        return EFI_INVALID_PARAMETER;
    EFI_STATUS status = gFirmware.Shell
                            ? gFirmware.Shell->OpenFileByName(reinterpret_cast<CHAR16*>(wide), &file->Shell, mode)
                            : OpenOnVolume(file, wide, mode);
    gFirmware.Boot->FreePool(wide);
    if (!EFI_ERROR(status) && file->Shell == nullptr && file->Volume == nullptr)
        status = EFI_NOT_FOUND;
    return EFI_ERROR(status) ? status : EFI_SUCCESS;
}

// Neither the Shell nor the volume creates exclusively: the name is looked
// up first, and only a name that is not there is created. Nothing else runs
// beside us to take it in between.
bool NameIsFree(const char* name)
{
    PlatformFile probe{};
    EFI_STATUS status = OpenByName(&probe, name, OPEN_READ);
    if (!EFI_ERROR(status))
        Close(&probe);
    return status == EFI_NOT_FOUND;
}

}  // namespace

PlatformFile* FileOpen(const char* name, const char* mode)
{
    if (name == nullptr || mode == nullptr || gFirmware.Boot == nullptr)
        return nullptr;
    if ((mode[0] != 'r' && mode[0] != 'w' && mode[0] != 'a' && mode[0] != 'x') || mode[1] != 'b' || mode[2] != 0)
        return nullptr;
    bool write = mode[0] != 'r';
    bool append = mode[0] == 'a';
    if (mode[0] == 'x' && !NameIsFree(name))
        return nullptr;

    PlatformFile* file = nullptr;
    for (PlatformFile& slot : gFiles) {
        if (!slot.InUse) {
            file = &slot;
            break;
        }
    }
    if (file == nullptr)
        return nullptr;
    *file = PlatformFile{false, write, append, nullptr, nullptr, false, write && WriteFaultArmed()};
    if (EFI_ERROR(OpenByName(file, name, write ? OPEN_CREATE : OPEN_READ)))
        return nullptr;

    // A directory is never an image or an output file; an existing file
    // opened with "wb" starts empty, as it promises.
    EFI_FILE_INFO* info = GetInfo(file);
    bool usable = info != nullptr && (info->Attribute & EFI_FILE_DIRECTORY) == 0;
    if (usable && write && !append && info->FileSize != 0) {
        info->FileSize = 0;
        usable = !EFI_ERROR(SetInfo(file, info));
    }
    if (info)
        gFirmware.Boot->FreePool(info);
    if (!usable) {
        Close(file);
        *file = PlatformFile{};
        return nullptr;
    }
    file->InUse = true;
    return file;
}

size_t FileRead(void* buffer, size_t size, size_t count, PlatformFile* file)
{
    if (!Valid(file) || file->Writable || buffer == nullptr || size == 0)
        return 0;
    UINT64 position = 0;
    if (EFI_ERROR(GetPosition(file, &position)) || position > INT64_MAX) {
        file->ReadFailed = true;
        return 0;
    }
    size_t wanted = count > SIZE_MAX / size ? SIZE_MAX / size * size : size * count;
    size_t allowed = ReadAllowance(static_cast<int64_t>(position), wanted);
    allowed -= allowed % size;

    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < allowed) {
        UINTN chunk = allowed - done;
        if (EFI_ERROR(Read(file, &chunk, bytes + done))) {
            file->ReadFailed = true;
            break;
        }
        if (chunk == 0)
            break;
        done += chunk;
    }
    if (allowed < wanted && done == allowed)
        file->ReadFailed = true;  // stopped at the injected fault, not the file's end
    return done / size;
}

bool FileReadFailed(PlatformFile* file)
{
    return Valid(file) && file->ReadFailed;
}

namespace {

// What tells two files apart here: neither the Shell nor the volume gives
// a file's identity, so one file is what agrees in name (FAT ignores case),
// size, attributes and times.
bool SameInfo(const EFI_FILE_INFO& a, const EFI_FILE_INFO& b)
{
    auto fold = [](CHAR16 c) { return c >= u'a' && c <= u'z' ? static_cast<CHAR16>(c - 32) : c; };
    size_t i = 0;
    for (; a.FileName[i] && fold(a.FileName[i]) == fold(b.FileName[i]); ++i) {
    }
    auto sameTime = [](const EFI_TIME& x, const EFI_TIME& y) {
        return x.Year == y.Year && x.Month == y.Month && x.Day == y.Day && x.Hour == y.Hour &&
               x.Minute == y.Minute && x.Second == y.Second && x.Nanosecond == y.Nanosecond;
    };
    return a.FileName[i] == b.FileName[i] && a.FileSize == b.FileSize && a.Attribute == b.Attribute &&
           sameTime(a.CreateTime, b.CreateTime) && sameTime(a.ModificationTime, b.ModificationTime);
}

EFI_FILE_INFO* InfoByName(const char* name)
{
    PlatformFile file{};
    if (EFI_ERROR(OpenByName(&file, name, OPEN_READ)))
        return nullptr;
    EFI_FILE_INFO* info = GetInfo(&file);
    Close(&file);
    return info;
}

}  // namespace

bool SameFile(const char* first, const char* second)
{
    if (first == nullptr || second == nullptr || gFirmware.Boot == nullptr)
        return false;
    EFI_FILE_INFO* a = InfoByName(first);
    EFI_FILE_INFO* b = a ? InfoByName(second) : nullptr;
    bool same = a && b && SameInfo(*a, *b);
    if (a)
        gFirmware.Boot->FreePool(a);
    if (b)
        gFirmware.Boot->FreePool(b);
    return same;
}

int FileRemove(const char* name)
{
    if (name == nullptr || gFirmware.Boot == nullptr)
        return -1;
    PlatformFile file{};
    if (EFI_ERROR(OpenByName(&file, name, OPEN_WRITE)))
        return -1;
    // Delete closes the handle, whether or not the file could go.
    EFI_STATUS status = file.Shell ? gFirmware.Shell->DeleteFile(file.Shell) : file.Volume->Delete(file.Volume);
    return status == EFI_SUCCESS ? 0 : -1;
}

size_t FileWrite(const void* buffer, size_t size, size_t count, PlatformFile* file)
{
    if (!Valid(file) || !file->Writable || buffer == nullptr || size == 0 || count > SIZE_MAX / size)
        return 0;
    UINT64 end = 0;
    if (file->Append && (!GetSize(file, &end) || EFI_ERROR(SetPosition(file, end))))
        return 0;
    auto* bytes = static_cast<const uint8_t*>(buffer);
    size_t total = file->OnFullDisk ? WriteAllowance(size * count) / size * size : size * count;
    size_t done = 0;
    while (done < total) {
        UINTN chunk = total - done;
        if (EFI_ERROR(Write(file, &chunk, bytes + done)) || chunk == 0)
            break;
        done += chunk;
    }
    return done / size;
}

int FileSeek(PlatformFile* file, int32_t offset, int whence)
{
    if (!Valid(file))
        return -1;
    int64_t base = 0;
    if (whence == FILE_SEEK_END) {
        UINT64 size = 0;
        if (!GetSize(file, &size) || size > INT64_MAX / 2)
            return -1;
        base = static_cast<int64_t>(size);
    } else if (whence != FILE_SEEK_SET) {
        return -1;
    }
    int64_t target = base + offset;
    if (target < 0)
        return -1;
    return EFI_ERROR(SetPosition(file, static_cast<UINT64>(target))) ? -1 : 0;
}

int32_t FileTell(PlatformFile* file)
{
    UINT64 position = 0;
    if (!Valid(file) || EFI_ERROR(GetPosition(file, &position)) || position > INT32_MAX)
        return -1;
    return static_cast<int32_t>(position);
}

int FileFlush(PlatformFile* file)
{
    if (!Valid(file))
        return -1;
    return !file->Writable || !EFI_ERROR(Flush(file)) ? 0 : -1;
}

int FileClose(PlatformFile* file)
{
    if (!Valid(file))
        return -1;
    // A write the volume could not complete shows up here, not in Close.
    bool flushed = FileFlush(file) == 0;
    bool closed = !EFI_ERROR(Close(file));
    *file = PlatformFile{};
    return flushed && closed ? 0 : -1;
}

namespace uefi {

bool FileNameIsFree(const char* name)
{
    return gFirmware.Boot != nullptr && NameIsFree(name);
}

int CloseAllFiles()
{
    int closed = 0;
    for (PlatformFile& slot : gFiles) {
        if (slot.InUse) {
            FileClose(&slot);
            ++closed;
        }
    }
    return closed;
}

void CloseVolume()
{
    if (gFirmware.Root)
        gFirmware.Root->Close(gFirmware.Root);
    gFirmware.Root = nullptr;
}

}  // namespace uefi
}  // namespace zar
