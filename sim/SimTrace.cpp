#include "sim/SimTrace.h"

namespace zar::sim {

size_t FormatTraceLine(bool write, uint8_t port, uint8_t value, char* line)
{
    static constexpr char HEX[] = "0123456789abcdef";
    size_t n = 0;
    if (write) {
        line[n++] = 'o';
        line[n++] = 'u';
        line[n++] = 't';
    } else {
        line[n++] = 'i';
        line[n++] = 'n';
    }
    line[n++] = ' ';
    line[n++] = HEX[port >> 4];
    line[n++] = HEX[port & 15];
    line[n++] = ' ';
    line[n++] = HEX[value >> 4];
    line[n++] = HEX[value & 15];
    line[n++] = '\n';
    return n;
}

bool BufferedFile::Open(const char* path)
{
    Close();
    file_ = FileOpen(path, "wb");
    failed_ = file_ == nullptr;
    return file_ != nullptr;
}

void BufferedFile::Flush()
{
    if (file_ && used_ && FileWrite(buffer_, 1, used_, file_) != used_)
        failed_ = true;
    used_ = 0;
}

void BufferedFile::Close()
{
    if (file_ == nullptr)
        return;
    Flush();
    if (FileClose(file_) != 0)
        failed_ = true;
    file_ = nullptr;
}

void BufferedFile::Write(const char* bytes, size_t length)
{
    if (file_ == nullptr)
        return;
    while (length > 0) {
        if (used_ == sizeof buffer_)
            Flush();
        size_t room = sizeof buffer_ - used_;
        size_t n = length < room ? length : room;
        MemCopy(buffer_ + used_, bytes, n);
        used_ += n;
        bytes += n;
        length -= n;
    }
}

void FileTrace::Access(bool write, uint8_t port, uint8_t value)
{
    char line[16];
    out_.Write(line, FormatTraceLine(write, port, value, line));
}

}  // namespace zar::sim
