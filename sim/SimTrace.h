// The port trace written to a file: one line per access, "in 66 02" or
// "out 62 08" (direction, port, value; two lower-case hex digits each).
#pragma once

#include <stdint.h>

#include "platform/Platform.h"
#include "sim/SimEc.h"

namespace zar::sim {

// Formats one access into line (at least 10 bytes) and returns its length,
// newline included.
size_t FormatTraceLine(bool write, uint8_t port, uint8_t value, char* line);

// A file written through a buffer, for the trace and the SPI log: a run
// writes millions of short lines.
class BufferedFile {
public:
    BufferedFile() = default;
    BufferedFile(const BufferedFile&) = delete;
    BufferedFile& operator=(const BufferedFile&) = delete;
    ~BufferedFile() { Close(); }

    bool Open(const char* path);  // creates or truncates
    void Close();
    void Write(const char* bytes, size_t length);
    bool IsOpen() const { return file_ != nullptr; }
    bool Failed() const { return failed_; }

private:
    void Flush();

    PlatformFile* file_ = nullptr;
    size_t used_ = 0;
    bool failed_ = false;
    char buffer_[16384];
};

class FileTrace : public TraceSink {
public:
    bool Open(const char* path) { return out_.Open(path); }
    void Close() { out_.Close(); }
    void Access(bool write, uint8_t port, uint8_t value) override;
    bool Failed() const { return out_.Failed(); }

private:
    BufferedFile out_;
};

}  // namespace zar::sim
