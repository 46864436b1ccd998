#include "FakeFirmware.h"

#include <string.h>
#include <time.h>

#include <algorithm>

namespace zar::test {

struct FakeFirmware::Handle {
    EFI_FILE_PROTOCOL protocol;  // what the volume hands out
    std::u16string name;
    uint64_t position = 0;
    bool root = false;
};

FakeFirmware* FakeFirmware::current_ = nullptr;

namespace {

EFI_GUID gParameters = EFI_SHELL_PARAMETERS_PROTOCOL_GUID;
EFI_GUID gInterface = SHELL_INTERFACE_PROTOCOL_GUID;
EFI_GUID gShell = EFI_SHELL_PROTOCOL_GUID;
EFI_GUID gLoadedImage = EFI_LOADED_IMAGE_PROTOCOL_GUID;
EFI_GUID gFileSystem = EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID;

bool Same(const EFI_GUID* a, const EFI_GUID& b)
{
    return memcmp(a, &b, sizeof b) == 0;
}

FakeFirmware::Handle* FromProtocol(EFI_FILE_PROTOCOL* protocol)
{
    // protocol is the first member of a Handle.
    return reinterpret_cast<FakeFirmware::Handle*>(protocol);
}

}  // namespace

std::u16string U16(const char* ascii)
{
    std::u16string text;
    for (; *ascii; ++ascii)
        text += static_cast<char16_t>(*ascii);
    return text;
}

FakeFirmware::FakeFirmware(Options options) : options_(options)
{
    current_ = this;
    boot_.AllocatePool = AllocatePool;
    boot_.FreePool = FreePool;
    boot_.OpenProtocol = OpenProtocol;
    boot_.LocateProtocol = LocateProtocol;
    boot_.Stall = Stall;
    boot_.RaiseTPL = RaiseTPL;
    boot_.RestoreTPL = RestoreTPL;
    boot_.CheckEvent = CheckEvent;
    boot_.SetWatchdogTimer = SetWatchdogTimer;
    conIn_.Reset = ResetKeys;
    conIn_.ReadKeyStroke = ReadKey;
    system_.ConIn = &conIn_;
    runtime_.ResetSystem = ResetSystem;
    conOut_.OutputString = OutputString;
    conOut_.SetAttribute = [](SIMPLE_TEXT_OUTPUT_INTERFACE*, UINTN) -> EFI_STATUS { return EFI_SUCCESS; };
    conOut_.ClearScreen = [](SIMPLE_TEXT_OUTPUT_INTERFACE*) -> EFI_STATUS { return EFI_SUCCESS; };
    conOut_.SetCursorPosition = [](SIMPLE_TEXT_OUTPUT_INTERFACE*, UINTN, UINTN) -> EFI_STATUS { return EFI_SUCCESS; };
    system_.ConOut = &conOut_;
    system_.BootServices = &boot_;
    runtime_.GetTime = GetTime;
    system_.RuntimeServices = &runtime_;

    shell_.GetEnv = GetEnv;
    shell_.OpenFileByName = OpenFileByName;
    shell_.CloseFile = CloseFile;
    shell_.DeleteFile = DeleteFile;
    shell_.ReadFile = ReadFile;
    shell_.WriteFile = WriteFile;
    shell_.GetFilePosition = GetFilePosition;
    shell_.SetFilePosition = SetFilePosition;
    shell_.GetFileSize = GetFileSize;
    shell_.FlushFile = FlushFile;
    shell_.GetFileInfo = GetFileInfo;
    shell_.SetFileInfo = SetFileInfo;
    shell_.ExecutionBreak = options.ExecutionBreak ? &breakEvent_ : nullptr;

    loadedImage_.DeviceHandle = &deviceHandle_;
    fileSystem_.OpenVolume = OpenVolume;
    SetArguments({u"zar"});
}

FakeFirmware::~FakeFirmware()
{
    current_ = nullptr;
}

void FakeFirmware::SetArguments(std::vector<std::u16string> arguments)
{
    argumentText_ = std::move(arguments);
    argv_.clear();
    for (std::u16string& text : argumentText_)
        argv_.push_back(reinterpret_cast<CHAR16*>(text.data()));
    argv_.push_back(nullptr);
    parameters_.Argv = argv_.data();
    parameters_.Argc = argumentText_.size();
    interface_.Argv = argv_.data();
    interface_.Argc = argumentText_.size();
}

void FakeFirmware::SetLoadOptions(std::vector<uint8_t> options)
{
    loadOptions_ = std::move(options);
    loadedImage_.LoadOptions = loadOptions_.empty() ? nullptr : loadOptions_.data();
    loadedImage_.LoadOptionsSize = static_cast<UINT32>(loadOptions_.size());
}

void FakeFirmware::SetImagePath(const std::u16string& path)
{
    size_t length = 4 + (path.size() + 1) * 2;
    imagePath_.assign(length, 0);
    imagePath_[0] = MEDIA_DEVICE_PATH;
    imagePath_[1] = MEDIA_FILEPATH_DP;
    imagePath_[2] = static_cast<uint8_t>(length);
    imagePath_[3] = static_cast<uint8_t>(length >> 8);
    memcpy(imagePath_.data() + 4, path.c_str(), path.size() * 2);
    const uint8_t end[4] = {END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, 4, 0};
    imagePath_.insert(imagePath_.end(), end, end + 4);
    loadedImage_.FilePath = reinterpret_cast<EFI_DEVICE_PATH*>(imagePath_.data());
}

void FakeFirmware::SetConfigurationTables(std::vector<EFI_CONFIGURATION_TABLE> tables)
{
    configuration_ = std::move(tables);
    system_.NumberOfTableEntries = configuration_.size();
    system_.ConfigurationTable = configuration_.data();
}

EFI_STATUS FakeFirmware::GetTime(EFI_TIME* time, EFI_TIME_CAPABILITIES*)
{
    if (EFI_ERROR(current_->timeStatus))
        return current_->timeStatus;
    *time = current_->time;
    return EFI_SUCCESS;
}

EFI_STATUS FakeFirmware::AllocatePool(EFI_MEMORY_TYPE, UINTN size, VOID** buffer)
{
    if (current_->poolFailAfter == 0)
        return EFI_OUT_OF_RESOURCES;
    if (current_->poolFailAfter > 0)
        --current_->poolFailAfter;
    *buffer = malloc(size ? size : 1);
    ++current_->liveAllocations;
    return EFI_SUCCESS;
}

EFI_STATUS FakeFirmware::FreePool(VOID* buffer)
{
    free(buffer);
    --current_->liveAllocations;
    return EFI_SUCCESS;
}

EFI_STATUS FakeFirmware::OpenProtocol(EFI_HANDLE handle, EFI_GUID* guid, VOID** interface, EFI_HANDLE, EFI_HANDLE,
                                      UINT32)
{
    FakeFirmware& f = *current_;
    void* found = nullptr;
    if (handle == &f.imageHandle_) {
        if (Same(guid, gParameters) && f.options_.ShellParameters)
            found = &f.parameters_;
        else if (Same(guid, gInterface) && f.options_.ShellInterface)
            found = &f.interface_;
        else if (Same(guid, gLoadedImage))
            found = &f.loadedImage_;
    } else if (handle == &f.deviceHandle_ && Same(guid, gFileSystem)) {
        found = &f.fileSystem_;
    }
    *interface = found;
    return found ? EFI_SUCCESS : EFI_UNSUPPORTED;
}

EFI_STATUS FakeFirmware::LocateProtocol(EFI_GUID* guid, VOID*, VOID** interface)
{
    if (Same(guid, gShell) && current_->options_.Shell) {
        *interface = &current_->shell_;
        return EFI_SUCCESS;
    }
    return EFI_NOT_FOUND;
}

EFI_STATUS FakeFirmware::SetWatchdogTimer(UINTN timeout, UINT64, UINTN, CHAR16*)
{
    if (timeout == 0)
        ++current_->watchdogDisables;
    return EFI_SUCCESS;
}

EFI_STATUS FakeFirmware::ResetSystem(EFI_RESET_TYPE type, EFI_STATUS, UINTN, CHAR16*)
{
    current_->resetType = type;
    return EFI_SUCCESS;  // a real firmware never returns
}

EFI_STATUS FakeFirmware::ResetKeys(SIMPLE_INPUT_INTERFACE*, BOOLEAN)
{
    ++current_->keyResets;
    return EFI_SUCCESS;
}

EFI_STATUS FakeFirmware::ReadKey(SIMPLE_INPUT_INTERFACE*, EFI_INPUT_KEY* key)
{
    if (current_->keys.empty())
        return EFI_NOT_READY;
    key->ScanCode = 0;
    key->UnicodeChar = current_->keys[0];
    current_->keys.erase(0, 1);
    return EFI_SUCCESS;
}

EFI_STATUS FakeFirmware::Stall(UINTN microseconds)
{
    if (current_->stallFails)
        return EFI_UNSUPPORTED;
    ++current_->stalls;
    if (!current_->stallSleeps)
        return EFI_SUCCESS;
    struct timespec wait = {static_cast<time_t>(microseconds / 1000000),
                            static_cast<long>(microseconds % 1000000) * 1000};
    while (nanosleep(&wait, &wait) != 0) {
    }
    return EFI_SUCCESS;
}

const CHAR16* FakeFirmware::GetEnv(const CHAR16* name)
{
    auto found = current_->environment.find(reinterpret_cast<const char16_t*>(name));
    if (found == current_->environment.end())
        return nullptr;
    return reinterpret_cast<const CHAR16*>(found->second.c_str());
}

EFI_TPL FakeFirmware::RaiseTPL(EFI_TPL tpl)
{
    EFI_TPL old = current_->tpl;
    current_->tpl = tpl;
    current_->tplCalls.push_back(tpl);
    return old;
}

VOID FakeFirmware::RestoreTPL(EFI_TPL tpl)
{
    current_->tpl = tpl;
    current_->tplCalls.push_back(tpl);
}

// Only the Shell's break event: signalled once, then cleared by the check.
EFI_STATUS FakeFirmware::CheckEvent(EFI_EVENT event)
{
    if (event != &current_->breakEvent_)
        return EFI_INVALID_PARAMETER;
    ++current_->breakChecks;
    bool signalled = current_->breakSignalled;
    current_->breakSignalled = false;
    return signalled ? EFI_SUCCESS : EFI_NOT_READY;
}

EFI_STATUS FakeFirmware::OutputString(SIMPLE_TEXT_OUTPUT_INTERFACE*, CHAR16* text)
{
    current_->console += reinterpret_cast<const char16_t*>(text);
    return EFI_SUCCESS;
}

EFI_STATUS FakeFirmware::Open(const CHAR16* name, UINT64 mode, Handle** handle)
{
    std::u16string path = reinterpret_cast<const char16_t*>(name);
    openedNames.push_back(path);
    bool isDirectory = directories.count(path) != 0;
    if (!isDirectory && files.count(path) == 0) {
        if ((mode & EFI_FILE_MODE_CREATE) == 0)
            return EFI_NOT_FOUND;
        files[path];
    }
    auto* opened = new Handle{};
    opened->name = path;
    opened->protocol.Open = VolumeOpen;
    opened->protocol.Close = VolumeClose;
    opened->protocol.Delete = VolumeDelete;
    opened->protocol.Read = VolumeRead;
    opened->protocol.Write = VolumeWrite;
    opened->protocol.GetPosition = VolumeGetPosition;
    opened->protocol.SetPosition = VolumeSetPosition;
    opened->protocol.GetInfo = VolumeGetInfo;
    opened->protocol.SetInfo = VolumeSetInfo;
    opened->protocol.Flush = VolumeFlush;
    ++openHandles;
    *handle = opened;
    return EFI_SUCCESS;
}

EFI_FILE_INFO* FakeFirmware::Info(Handle* handle)
{
    size_t size = sizeof(EFI_FILE_INFO) + handle->name.size() * 2;
    void* memory = nullptr;
    if (EFI_ERROR(AllocatePool(EfiLoaderData, size, &memory)))
        return nullptr;
    auto* info = static_cast<EFI_FILE_INFO*>(memory);
    memset(info, 0, size);
    info->Size = size;
    bool isDirectory = handle->root || directories.count(handle->name);
    info->Attribute = isDirectory ? EFI_FILE_DIRECTORY : 0;
    info->FileSize = isDirectory ? 0 : files[handle->name].size();
    memcpy(info->FileName, handle->name.c_str(), (handle->name.size() + 1) * 2);
    return info;
}

EFI_STATUS FakeFirmware::OpenFileByName(CONST CHAR16* name, SHELL_FILE_HANDLE* handle, UINT64 mode)
{
    Handle* opened = nullptr;
    EFI_STATUS status = current_->Open(name, mode, &opened);
    *handle = opened;
    return status;
}

EFI_STATUS FakeFirmware::CloseFile(SHELL_FILE_HANDLE handle)
{
    delete ToHandle(handle);
    --current_->openHandles;
    return EFI_SUCCESS;
}

EFI_STATUS FakeFirmware::DeleteFile(SHELL_FILE_HANDLE handle)
{
    current_->files.erase(ToHandle(handle)->name);
    return CloseFile(handle);
}

EFI_STATUS FakeFirmware::ReadFile(SHELL_FILE_HANDLE handle, UINTN* size, VOID* buffer)
{
    Handle* h = ToHandle(handle);
    std::vector<uint8_t>& data = current_->files[h->name];
    size_t available = h->position < data.size() ? data.size() - h->position : 0;
    size_t n = std::min({static_cast<size_t>(*size), available, current_->readChunk});
    if (n != 0)
        memcpy(buffer, data.data() + h->position, n);
    h->position += n;
    *size = n;
    return EFI_SUCCESS;
}

EFI_STATUS FakeFirmware::WriteFile(SHELL_FILE_HANDLE handle, UINTN* size, VOID* buffer)
{
    Handle* h = ToHandle(handle);
    std::vector<uint8_t>& data = current_->files[h->name];
    if (data.size() < h->position + *size)
        data.resize(h->position + *size);
    memcpy(data.data() + h->position, buffer, *size);
    h->position += *size;
    return EFI_SUCCESS;
}

EFI_STATUS FakeFirmware::GetFilePosition(SHELL_FILE_HANDLE handle, UINT64* position)
{
    *position = ToHandle(handle)->position;
    return EFI_SUCCESS;
}

EFI_STATUS FakeFirmware::SetFilePosition(SHELL_FILE_HANDLE handle, UINT64 position)
{
    ToHandle(handle)->position = position;
    return EFI_SUCCESS;
}

EFI_STATUS FakeFirmware::GetFileSize(SHELL_FILE_HANDLE handle, UINT64* size)
{
    *size = current_->files[ToHandle(handle)->name].size();
    return EFI_SUCCESS;
}

EFI_STATUS FakeFirmware::FlushFile(SHELL_FILE_HANDLE)
{
    return current_->flushFails ? EFI_VOLUME_FULL : EFI_SUCCESS;
}

EFI_FILE_INFO* FakeFirmware::GetFileInfo(SHELL_FILE_HANDLE handle)
{
    return current_->Info(ToHandle(handle));
}

EFI_STATUS FakeFirmware::SetFileInfo(SHELL_FILE_HANDLE handle, CONST EFI_FILE_INFO* info)
{
    current_->files[ToHandle(handle)->name].resize(info->FileSize);
    return EFI_SUCCESS;
}

EFI_STATUS FakeFirmware::OpenVolume(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL*, EFI_FILE_PROTOCOL** root)
{
    FakeFirmware& f = *current_;
    f.root_ = std::make_unique<Handle>();
    f.root_->root = true;
    f.root_->protocol.Open = VolumeOpen;
    f.root_->protocol.Close = VolumeClose;
    f.volumeOpen = true;
    *root = &f.root_->protocol;
    return EFI_SUCCESS;
}

EFI_STATUS FakeFirmware::VolumeOpen(EFI_FILE_PROTOCOL* self, EFI_FILE_PROTOCOL** file, CHAR16* name, UINT64 mode,
                                    UINT64)
{
    if (!FromProtocol(self)->root)
        return EFI_UNSUPPORTED;
    Handle* opened = nullptr;
    EFI_STATUS status = current_->Open(name, mode, &opened);
    *file = opened ? &opened->protocol : nullptr;
    return status;
}

EFI_STATUS FakeFirmware::VolumeClose(EFI_FILE_PROTOCOL* self)
{
    if (FromProtocol(self)->root) {
        current_->volumeOpen = false;
        return EFI_SUCCESS;
    }
    return CloseFile(FromProtocol(self));
}

EFI_STATUS FakeFirmware::VolumeDelete(EFI_FILE_PROTOCOL* self)
{
    return DeleteFile(FromProtocol(self));
}

EFI_STATUS FakeFirmware::VolumeRead(EFI_FILE_PROTOCOL* self, UINTN* size, VOID* buffer)
{
    return ReadFile(FromProtocol(self), size, buffer);
}

EFI_STATUS FakeFirmware::VolumeWrite(EFI_FILE_PROTOCOL* self, UINTN* size, VOID* buffer)
{
    return WriteFile(FromProtocol(self), size, buffer);
}

EFI_STATUS FakeFirmware::VolumeGetPosition(EFI_FILE_PROTOCOL* self, UINT64* position)
{
    return GetFilePosition(FromProtocol(self), position);
}

EFI_STATUS FakeFirmware::VolumeSetPosition(EFI_FILE_PROTOCOL* self, UINT64 position)
{
    return SetFilePosition(FromProtocol(self), position);
}

EFI_STATUS FakeFirmware::VolumeGetInfo(EFI_FILE_PROTOCOL* self, EFI_GUID*, UINTN* size, VOID* buffer)
{
    Handle* h = FromProtocol(self);
    UINTN needed = sizeof(EFI_FILE_INFO) + h->name.size() * 2;
    if (*size < needed) {
        *size = needed;
        return EFI_BUFFER_TOO_SMALL;
    }
    EFI_FILE_INFO* info = current_->Info(h);
    if (info == nullptr)
        return EFI_OUT_OF_RESOURCES;
    memcpy(buffer, info, needed);
    FreePool(info);
    return EFI_SUCCESS;
}

EFI_STATUS FakeFirmware::VolumeSetInfo(EFI_FILE_PROTOCOL* self, EFI_GUID*, UINTN, VOID* buffer)
{
    return SetFileInfo(FromProtocol(self), static_cast<EFI_FILE_INFO*>(buffer));
}

EFI_STATUS FakeFirmware::VolumeFlush(EFI_FILE_PROTOCOL* self)
{
    return FlushFile(FromProtocol(self));
}

}  // namespace zar::test
