#include "tools/zar-sim/SimDecode.h"

#include "platform/Platform.h"
#include "tools/zar-sim/SimFrontEnd.h"
#include "sim/SpiLog.h"

namespace zar::sim {
namespace {

// Decoded lines on the console.
class ConsoleLog : public SpiLogSink {
public:
    void Line(const char* text, size_t length) override
    {
        char line[SPI_LOG_LINE_MAX + 1];
        if (length > SPI_LOG_LINE_MAX)
            length = SPI_LOG_LINE_MAX;
        MemCopy(line, text, length);
        line[length] = 0;
        Print(u"%a\n", line);
    }
};

// Bad trace lines on the console: the first few in full, then only counted.
class BadLineReport : public TraceProblemSink {
public:
    explicit BadLineReport(const char* path) : path_(path) {}
    void BadLine(uint64_t number, const char* text, size_t length) override
    {
        if (++shown_ > SHOWN)
            return;
        // The file may hold anything: show printable ASCII only.
        char line[TRACE_LINE_MAX + 1];
        for (size_t i = 0; i < length; ++i)
            line[i] = text[i] >= 0x20 && text[i] < 0x7F ? text[i] : '?';
        line[length] = 0;
        Print(u"zar-sim: %a:%lu: not a port access: \"%a\"\n", path_, number, line);
    }

private:
    static constexpr uint64_t SHOWN = 10;
    const char* path_;
    uint64_t shown_ = 0;
};

}  // namespace

int DecodeTraceFile(const char* path, const char* logPath)
{
    PlatformFile* in = FileOpen(path, "rb");
    if (in == nullptr) {
        Print(u"zar-sim: can't read %a (%a)\n", path, CANT_READ_WHY);
        return EXIT_USAGE;
    }
    ConsoleLog console;
    SpiLogFile file;
    if (logPath && !file.Open(logPath)) {
        Print(u"zar-sim: can't write %a\n", logPath);
        FileClose(in);
        return EXIT_USAGE;
    }
    SpiLogDecoder decoder(logPath ? static_cast<SpiLogSink*>(&file) : &console);
    BadLineReport problems(path);
    TraceTextReader reader(&decoder, &problems);
    char chunk[4096];
    uint64_t bytes = 0;
    for (size_t got; (got = FileRead(chunk, 1, sizeof chunk, in)) > 0; bytes += got)
        reader.Feed(chunk, got);
    bool readFailed = FileReadFailed(in);
    reader.Finish();
    decoder.Finish();
    FileClose(in);
    file.Close();
    if (readFailed) {
        Print(u"zar-sim: reading %a failed after %lu bytes: the decode is incomplete\n", path, bytes);
        return EXIT_USAGE;
    }
    if (file.Failed()) {
        Print(u"zar-sim: writing %a failed\n", logPath);
        return EXIT_USAGE;
    }
    if (reader.BadLines() == 0)
        return 0;
    Print(u"zar-sim: %a: %lu of %lu lines are not port accesses; they were skipped\n", path, reader.BadLines(),
          reader.Lines());
    return EXIT_BAD_TRACE;
}

}  // namespace zar::sim
