// Files and heap on Linux: the C library's, with the simulated faults of
// platform/Faults.h applied.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/Faults.h"
#include "platform/Platform.h"

namespace zar {

struct PlatformFile {
    FILE* stream;
    bool reading;
};

PlatformFile* FileOpen(const char* name, const char* mode)
{
    if (name == nullptr || mode == nullptr)
        return nullptr;
    FILE* stream = fopen(name, mode);
    if (stream == nullptr)
        return nullptr;
    return new PlatformFile{stream, mode[0] == 'r'};
}

size_t FileRead(void* buffer, size_t size, size_t count, PlatformFile* file)
{
    if (file == nullptr || size == 0)
        return 0;
    long position = ftell(file->stream);
    size_t allowed = ReadAllowance(position < 0 ? 0 : position, size * count) / size;
    return fread(buffer, size, allowed < count ? allowed : count, file->stream);
}

size_t FileWrite(const void* buffer, size_t size, size_t count, PlatformFile* file)
{
    return file ? fwrite(buffer, size, count, file->stream) : 0;
}

int FileSeek(PlatformFile* file, int32_t offset, int whence)
{
    if (file == nullptr)
        return -1;
    return fseek(file->stream, offset, whence == FILE_SEEK_END ? SEEK_END : SEEK_SET) == 0 ? 0 : -1;
}

int32_t FileTell(PlatformFile* file)
{
    if (file == nullptr)
        return -1;
    long position = ftell(file->stream);
    return position < 0 || position > INT32_MAX ? -1 : static_cast<int32_t>(position);
}

int FileFlush(PlatformFile* file)
{
    return file && fflush(file->stream) == 0 ? 0 : -1;
}

int FileClose(PlatformFile* file)
{
    if (file == nullptr)
        return -1;
    int result = fclose(file->stream);
    delete file;
    return result == 0 ? 0 : -1;
}

void* MemAlloc(size_t size)
{
    if (size == 0 || AllocationShouldFail())
        return nullptr;
    return malloc(size);
}

void MemFree(void* block)
{
    free(block);
}

void MemSet(void* block, uint8_t value, size_t count)
{
    memset(block, value, count);
}

void MemCopy(void* dest, const void* src, size_t count)
{
    memcpy(dest, src, count);
}

}  // namespace zar
