// zar-sim --decode on any bytes: the trace reader and the SPI log decoder.
// The same bytes fed whole and in chunks of any size give the same lines.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "sim/SpiLog.h"

namespace {

using namespace zar::sim;

class Collect : public SpiLogSink, public TraceProblemSink {
public:
    void Line(const char* text, size_t length) override
    {
        if (length > SPI_LOG_LINE_MAX)
            abort();
        text_.append(text, length).push_back('\n');
    }
    void BadLine(uint64_t number, const char* text, size_t length) override
    {
        if (length > TRACE_LINE_MAX)
            abort();
        text_ += "bad " + std::to_string(number) + ' ';
        text_.append(text, length).push_back('\n');
    }
    std::string text_;
};

std::string Decode(const char* data, size_t size, size_t chunk, uint64_t* lines)
{
    Collect out;
    SpiLogDecoder decoder(&out);
    TraceTextReader reader(&decoder, &out);
    for (size_t at = 0; at < size; at += chunk)
        reader.Feed(data + at, size - at < chunk ? size - at : chunk);
    reader.Finish();
    decoder.Finish();
    if (reader.BadLines() > reader.Lines())
        abort();
    *lines = reader.Lines();
    return out.text_;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    size_t chunk = data[0] % 61 + 1;  // the first byte: how the file arrives
    const char* text = reinterpret_cast<const char*>(data + 1);
    --size;

    uint64_t wholeLines = 0, chunkedLines = 0;
    std::string whole = Decode(text, size, size ? size : 1, &wholeLines);
    if (Decode(text, size, chunk, &chunkedLines) != whole || chunkedLines != wholeLines)
        abort();

    // One line per newline, and one more for a last line without its own.
    uint64_t newlines = 0;
    for (size_t i = 0; i < size; ++i)
        newlines += text[i] == '\n';
    if (wholeLines != newlines + (size && text[size - 1] != '\n'))
        abort();
    return 0;
}
