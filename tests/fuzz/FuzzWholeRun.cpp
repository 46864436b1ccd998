// A whole zar-sim run: any image, any part, random EC latency and chip busy
// times, one fault of any kind at any point, any of the flasher's switches.
// The run must end (waits are bounded low here), with one of the flasher's
// statuses; status 0 only with the chip equal to the image; and no closing
// command after a failure that touched the chip.
//
// Input: part, EC latency, latency seed, chip busy, fault kind, two fault
// value bytes, switches, two image size bytes, then the image's bytes
// (repeated to its size).
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/hosted/HostConsole.h"
#include "sim/ChipCatalog.h"
#include "tools/zar-sim/SimFrontEnd.h"

namespace {

constexpr size_t HEADER = 10;
constexpr uint32_t CHIP_SIZE = 0x20000;     // every part at 128 KiB: short runs
constexpr uint32_t MAX_IMAGE = 0x14000;     // two blocks, the second short

std::string Number(unsigned value)
{
    return std::to_string(value);
}

std::string Fault(uint8_t kind, unsigned value)
{
    switch (kind % 10) {
    case 1: return "ec-ibf-stuck=" + Number(value * 4);
    case 2: return "ec-obf-never=" + Number(value);
    case 3: return "ec-ack=" + Number(value & 0xFF);
    case 4: return "chip-absent";
    case 5: return "chip-busy=" + Number(value % 600);
    case 6: return "chip-locked";
    case 7: return "stuck-bits=" + Number(value * 2) + ":" + Number((value >> 8) | 1);
    case 8: return "read-fail=" + Number(value * 2);
    case 9: return "alloc-fail=" + Number(value % 4);
    default: return "";
    }
}

bool Contains(const std::string& text, const char* piece)
{
    return text.find(piece) != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The flasher takes a name beginning with '/' for a switch: images are
    // named relative to a folder of this process's own.
    char folder[] = "/tmp/zar-fuzz-XXXXXX";
    if (mkdtemp(folder) == nullptr || chdir(folder) != 0)
        abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < HEADER)
        return 0;
    const zar::sim::ChipInfo& part = zar::sim::ChipAt(data[0] % zar::sim::ChipCount());
    unsigned latency = data[1] % 24, seed = data[2], busy = data[3] % 12;
    std::string fault = Fault(data[4], data[5] | data[6] << 8);
    uint8_t switches = data[7];
    size_t imageSize = 1 + ((data[8] | data[9] << 8) * static_cast<size_t>(MAX_IMAGE - 1) >> 16);
    const uint8_t* bytes = data + HEADER;
    size_t byteCount = size - HEADER;

    std::vector<uint8_t> image(imageSize, 0xA5);
    for (size_t i = 0; byteCount && i < imageSize; ++i)
        image[i] = bytes[i % byteCount];
    FILE* file = fopen("img.bin", "wb");
    if (file == nullptr || fwrite(image.data(), 1, image.size(), file) != image.size() || fclose(file) != 0)
        abort();

    std::vector<std::string> words = {
        "zar-sim", "--chip", part.Part->Name, "--chip-size", Number(CHIP_SIZE), "--report", "--wait-limit", "3000",
        "--ec-latency", "random:" + Number(latency) + ":" + Number(seed), "--chip-busy", "random:" + Number(busy),
    };
    if (!fault.empty())
        words.insert(words.end(), {"--fault", fault});
    if (switches & 8)
        words.insert(words.end(), {"--ec-module", "OTHER"});
    words.push_back("img.bin");
    if (switches & 1)
        words.push_back("p");
    if (switches & 2)
        words.push_back("x");
    if (switches & 4)
        words.push_back("/j");
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    std::string output;
    int status;
    {
        zar::hosted::ScopedCapture capture;
        status = zar::sim::SimMain(static_cast<int>(words.size()), argv.data());
        output = capture.Output();
    }
    if (status < 0 || status > 5)  // 5: write-protected, refused before the first erase
        abort();
    // A run refused before the first erase hands the EC back; any other
    // failure leaves it in follow mode for the next run.
    if (status != 0 && Contains(output, "EC closed with") && !Contains(output, "0 erases, 0 programs"))
        abort();
    if (status == 0 && !Contains(output, "equals the image over its"))
        abort();
    return 0;
}
