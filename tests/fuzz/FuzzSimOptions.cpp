// zar-sim's option parser on any command line: NUL-separated words. What it
// accepts must be usable as it stands: bounded times, delays that can be
// drawn, a flasher command line within its table.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "platform/hosted/HostConsole.h"
#include "tools/zar-sim/SimFrontEnd.h"

namespace {

using namespace zar::sim;

class Silent : public zar::hosted::ConsoleSink {
public:
    bool Text(const char16_t*, size_t) override { return true; }
    void Attribute(uintptr_t) override {}
    void Clear() override {}
    void Cursor(uintptr_t, uintptr_t) override {}
};

void Require(bool condition)
{
    if (!condition)
        abort();
}

void DrawFrom(const ReadDelay& delay)
{
    SimRandom random(delay.Seed);
    for (int i = 0; i < 4; ++i)
        Require(delay.Mode != ReadDelay::Random || random.Below(delay.Count) <= delay.Count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> words{"zar-sim"};
    std::string word;
    for (size_t i = 0; i < size && words.size() < 200; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word.push_back(static_cast<char>(data[i]));
        }
    }
    if (!word.empty())
        words.push_back(word);
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    static Silent silent;
    zar::hosted::SetConsoleSink(&silent);
    static SimOptions options;
    options = SimOptions{};
    bool accepted = ParseSimOptions(static_cast<int>(words.size()), argv.data(), &options);
    zar::hosted::SetConsoleSink(nullptr);
    if (!accepted)
        return 0;

    Require(options.FlasherArgc >= 1 && options.FlasherArgc <= 63);
    for (int i = 0; i < options.FlasherArgc; ++i)
        Require(options.FlasherArgv[i] != nullptr);
    Require(options.FlasherArgv[options.FlasherArgc] == nullptr);
    Require(options.Chip == nullptr || options.Chip->Part->Size != 0);
    Require(options.ChipSize == 0 || (options.ChipSize >= 0x10000 && options.ChipSize <= 0x1000000));
    Require(options.DecodePath == nullptr || options.FlasherArgc == 1);
    if (options.RealTiming) {
        Require(options.AccessNs >= MIN_ACCESS_NS && options.AccessNs <= MAX_ACCESS_NS);
        Require(options.EcResponseNs <= MAX_EC_RESPONSE_NS);
    } else {
        Require(!options.TimesGiven);
    }
    DrawFrom(options.Ec.IbfDelay);
    DrawFrom(options.Ec.ObfDelay);
    DrawFrom(options.ChipSetup.Busy);
    return 0;
}
