// Files and heap on Linux: the C library's, with the simulated faults of
// platform/Faults.h applied.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Faults.h"
#include "platform/Platform.h"
#include "platform/hosted/HostFirmware.h"

namespace zar {

struct PlatformFile {
    FILE* stream;
    bool reading;
    bool readFailed;
    bool onFullDisk;  // opened for writing while a write fault was armed
};

PlatformFile* FileOpen(const char* name, const char* mode)
{
    hosted::NoteServiceCall();
    if (name == nullptr || mode == nullptr)
        return nullptr;
    bool reading = mode[0] == 'r';
    bool append = mode[0] == 'a';
    bool fresh = mode[0] == 'x';
    if (!reading && !append && !fresh && mode[0] != 'w')
        return nullptr;
    // Without O_NONBLOCK a FIFO would hold the open until someone opens its
    // other end; with it, reading opens at once (and is refused below) and
    // writing without a reader fails with ENXIO. O_EXCL refuses any name that
    // exists, a symbolic link included, dangling or not.
    int flags = (reading  ? O_RDONLY
                 : append ? O_WRONLY | O_CREAT | O_APPEND
                 : fresh  ? O_WRONLY | O_CREAT | O_EXCL
                          : O_WRONLY | O_CREAT | O_TRUNC) |
                O_NONBLOCK | O_CLOEXEC;
    int fd = open(name, flags, 0666);
    if (fd < 0)
        return nullptr;
    struct stat info;
    int fdFlags = fcntl(fd, F_GETFL);
    bool usable = fstat(fd, &info) == 0 && (reading ? S_ISREG(info.st_mode) : !S_ISDIR(info.st_mode)) &&
                  fdFlags >= 0 && fcntl(fd, F_SETFL, fdFlags & ~O_NONBLOCK) == 0;
    FILE* stream = usable ? fdopen(fd, reading ? "rb" : append ? "ab" : "wb") : nullptr;
    if (stream == nullptr) {
        close(fd);
        return nullptr;
    }
    return new PlatformFile{stream, reading, false, !reading && WriteFaultArmed()};
}

size_t FileRead(void* buffer, size_t size, size_t count, PlatformFile* file)
{
    hosted::NoteServiceCall();
    if (file == nullptr || size == 0)
        return 0;
    long position = ftell(file->stream);
    size_t allowed = ReadAllowance(position < 0 ? 0 : position, size * count) / size;
    size_t wanted = allowed < count ? allowed : count;
    size_t got = fread(buffer, size, wanted, file->stream);
    // Short at an injected fault's offset, or an error from the medium.
    if (ferror(file->stream) || (wanted < count && got == wanted))
        file->readFailed = true;
    return got;
}

int FileRemove(const char* name)
{
    hosted::NoteServiceCall();
    return name && unlink(name) == 0 ? 0 : -1;
}

bool FileReadFailed(PlatformFile* file)
{
    return file && file->readFailed;
}

bool SameFile(const char* first, const char* second)
{
    hosted::NoteServiceCall();
    struct stat a, b;
    if (first == nullptr || second == nullptr || stat(first, &a) != 0 || stat(second, &b) != 0)
        return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

size_t FileWrite(const void* buffer, size_t size, size_t count, PlatformFile* file)
{
    hosted::NoteServiceCall();
    if (file == nullptr || size == 0)
        return 0;
    size_t allowed = file->onFullDisk ? WriteAllowance(size * count) / size : count;
    return fwrite(buffer, size, allowed, file->stream);
}

int FileSeek(PlatformFile* file, int32_t offset, int whence)
{
    hosted::NoteServiceCall();
    if (file == nullptr)
        return -1;
    return fseek(file->stream, offset, whence == FILE_SEEK_END ? SEEK_END : SEEK_SET) == 0 ? 0 : -1;
}

int32_t FileTell(PlatformFile* file)
{
    hosted::NoteServiceCall();
    if (file == nullptr)
        return -1;
    long position = ftell(file->stream);
    return position < 0 || position > INT32_MAX ? -1 : static_cast<int32_t>(position);
}

int FileFlush(PlatformFile* file)
{
    hosted::NoteServiceCall();
    return file && fflush(file->stream) == 0 ? 0 : -1;
}

int FileClose(PlatformFile* file)
{
    hosted::NoteServiceCall();
    if (file == nullptr)
        return -1;
    int result = fclose(file->stream);
    delete file;
    return result == 0 ? 0 : -1;
}

void* MemAlloc(size_t size)
{
    hosted::NoteServiceCall();
    if (size == 0 || AllocationShouldFail())
        return nullptr;
    return malloc(size);
}

void MemFree(void* block)
{
    hosted::NoteServiceCall();
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
