// zar-sim's outputs kept apart from its inputs and from each other.
#include "Applications/Main/LeadingWords.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "tools/zar-sim/SimFrontEnd.h"

namespace zar::sim {
namespace {

struct Named {
    const char* Option;
    const char* Path;
};

// One file by its name, or by what it is where it exists already.
bool SameName(const char* a, const char* b)
{
    return TextEqual(a, b) || SameFile(a, b);
}

// The files the flasher itself writes: the record of /log, the backup of
// /backup, /read's FILE. Returns their count (at most capacity).
size_t FlasherOutputs(const SimOptions& options, Named* out, size_t capacity)
{
    static constexpr const char* WRITERS[] = {"/log", "/backup", "/read"};
    size_t count = 0;
    for (int i = 1; i + 1 < options.FlasherArgc && count < capacity; ++i) {
        const char* file = options.FlasherArgv[i + 1];
        if (file[0] == '/')
            continue;  // a switch, which the flasher refuses as a name
        for (const char* writer : WRITERS) {
            if (WordIs(options.FlasherArgv[i], writer))
                out[count++] = {writer, file};
        }
    }
    return count;
}

}  // namespace

// An output that is an input (or another output) would be cut to nothing
// before the run reads it, or written twice over: refused by the file it is,
// whatever name leads to it, and by its name where it does not exist yet.
bool OutputsAreApart(const SimOptions& options)
{
    const Named outputs[] = {
        {"--trace", options.TracePath},
        {"--spi-log", options.SpiLogPath},
        {"--flash-out", options.FlashOut},
        {"--state", options.StatePath},
    };
    const Named inputs[] = {
        {"the image", ReadFlasherLine(options).Image},
        {"--flash-in", options.FlashIn},
        {"--decode", options.DecodePath},
    };
    Named flasher[8];
    size_t flasherCount = FlasherOutputs(options, flasher, sizeof flasher / sizeof flasher[0]);
    constexpr size_t OUTPUTS = sizeof outputs / sizeof outputs[0];
    for (size_t i = 0; i < OUTPUTS; ++i) {
        const Named& out = outputs[i];
        if (out.Path == nullptr)
            continue;
        for (const Named& in : inputs) {
            if (in.Path && SameName(out.Path, in.Path)) {
                Print(u"zar-sim: %a %a is %a: it would be overwritten before it is read\n", out.Option, out.Path,
                      in.Option);
                return false;
            }
        }
        for (size_t k = i + 1; k < OUTPUTS + flasherCount; ++k) {
            const Named& other = k < OUTPUTS ? outputs[k] : flasher[k - OUTPUTS];
            if (other.Path && SameName(out.Path, other.Path)) {
                Print(u"zar-sim: %a and %a both write %a\n", out.Option, other.Option, out.Path);
                return false;
            }
        }
    }
    return true;
}

}  // namespace zar::sim
