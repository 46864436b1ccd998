// The port trace decoded into what the bytes meant: one line per EC command
// or SPI transaction, e.g.
//
//   READ_MEMORY 0880 -> 44        FOLLOW_ENTER -> 33       FOLLOW_EXIT
//   RDID -> BF 25 8E BF           RDSR x3 -> 00            WRSR 00
//   SECTOR_ERASE 020000           PAGE_PROGRAM 028100 +256  FAST_READ 020000 +65536
//   AAI_WORD_PROGRAM 000000 +2    AAI_WORD_PROGRAM +2 (later ones carry no address)
//
// Opcodes outside flash/SpiOpcodes.h show as hex with their bytes. An access
// the decoder can't place shows as "? " and the raw access. The decoder is a
// TraceSink fed access by access, so it runs live during a run and over a
// trace file alike, with the same lines.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/Platform.h"
#include "sim/SimEc.h"
#include "sim/SimTrace.h"

namespace zar::sim {

class SpiLogSink {
public:
    virtual void Line(const char* text, size_t length) = 0;  // no newline

protected:
    ~SpiLogSink() = default;
};

constexpr size_t SPI_LOG_LINE_MAX = 160;

class SpiLogDecoder : public TraceSink {
public:
    explicit SpiLogDecoder(SpiLogSink* out) : out_(out) {}

    void Access(bool write, uint8_t port, uint8_t value) override;
    // The end of the stream: what is still open is written with a note.
    void Finish();

private:
    enum class Mode : uint8_t { Normal, Follow, Closed };
    // Normal-mode command in progress
    enum class Command : uint8_t { None, MemoryHigh, MemoryLow, MemoryAnswer, EnterAnswer };

    static constexpr size_t KEPT_WRITES = 12;  // address, dummy and the bytes a line shows
    static constexpr size_t KEPT_READS = 8;

    void CommandPort(uint8_t value);
    void NormalCommand(uint8_t value);
    void FollowCommand(uint8_t value);
    void DataWrite(uint8_t value);
    void DataRead(uint8_t value);
    void FinishCommand(const char* note);
    void Begin();
    void End(const char* note);
    void Stray(bool write, uint8_t port, uint8_t value);

    SpiLogSink* out_;
    Mode mode_ = Mode::Normal;
    Command command_ = Command::None;
    uint8_t memoryHigh_ = 0;
    uint8_t memoryLow_ = 0;

    // Follow mode: the open transaction
    bool expectByte_ = false;  // after FOLLOW_OPCODE or FOLLOW_WRITE
    bool open_ = false;
    bool readPending_ = false;  // FOLLOW_READ sent, its byte not read yet
    bool unanswered_ = false;   // a FOLLOW_READ was superseded before its byte came
    bool aai_ = false;          // inside an AAI sequence: commands carry no address
    uint64_t writes_ = 0;       // bytes shifted out, the opcode first
    uint64_t reads_ = 0;
    uint8_t written_[KEPT_WRITES] = {};
    uint8_t read_[KEPT_READS] = {};
    uint8_t lastRead_ = 0;
};

// One port trace to two sinks: the trace file and the decoder of one run.
class TraceTee : public TraceSink {
public:
    TraceTee(TraceSink* first, TraceSink* second) : first_(first), second_(second) {}
    void Access(bool write, uint8_t port, uint8_t value) override
    {
        first_->Access(write, port, value);
        second_->Access(write, port, value);
    }

private:
    TraceSink* first_;
    TraceSink* second_;
};

// Decoded lines into a file, newline after each.
class SpiLogFile : public SpiLogSink {
public:
    bool Open(const char* path) { return out_.Open(path); }
    void Close() { out_.Close(); }
    void Line(const char* text, size_t length) override;
    bool Failed() const { return out_.Failed(); }

private:
    BufferedFile out_;
};

// A trace file's text ("in 66 02", "out 62 08" a line) turned back into
// accesses, fed in chunks of any size. Lines are bounded: a longer one, or
// one that is not an access, goes to the problem sink with its number and is
// skipped.
class TraceProblemSink {
public:
    // text: the line's first bytes (at most TRACE_LINE_MAX), not terminated
    virtual void BadLine(uint64_t number, const char* text, size_t length) = 0;

protected:
    ~TraceProblemSink() = default;
};

constexpr size_t TRACE_LINE_MAX = 32;

class TraceTextReader {
public:
    TraceTextReader(TraceSink* accesses, TraceProblemSink* problems) : accesses_(accesses), problems_(problems) {}

    void Feed(const char* data, size_t length);
    void Finish();  // a last line without a newline counts as a line

    uint64_t Lines() const { return lines_; }
    uint64_t BadLines() const { return badLines_; }

private:
    void EndLine();

    TraceSink* accesses_;
    TraceProblemSink* problems_;
    uint64_t lines_ = 0;
    uint64_t badLines_ = 0;
    size_t length_ = 0;     // bytes of the current line so far
    char line_[TRACE_LINE_MAX];
};

// Parses one trace line (without its newline; a trailing CR is allowed).
bool ParseTraceLine(const char* text, size_t length, bool* write, uint8_t* port, uint8_t* value);

}  // namespace zar::sim
