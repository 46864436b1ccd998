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

class FileTrace : public TraceSink {
public:
    FileTrace() = default;
    FileTrace(const FileTrace&) = delete;
    FileTrace& operator=(const FileTrace&) = delete;
    ~FileTrace() { Close(); }

    bool Open(const char* path);
    void Close();
    void Access(bool write, uint8_t port, uint8_t value) override;
    bool Failed() const { return failed_; }

private:
    void Flush();

    PlatformFile* file_ = nullptr;
    size_t used_ = 0;
    bool failed_ = false;
    char buffer_[16384];
};

}  // namespace zar::sim
