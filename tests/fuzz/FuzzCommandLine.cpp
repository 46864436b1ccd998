// The UEFI runtime's command line, on a fake firmware: any UTF-16 words, any
// number of them, from either Shell protocol, with the pool failing anywhere.
// The program gets every word converted exactly, or does not run at all, and
// nothing stays allocated.
//
// Input: a flags byte (bit 0: the older Shell interface; bits 1-7: the
// allocation that fails, 0 for none), a repeat byte (the words given that
// many times over, to cross the runtime's bound), then the words as UTF-16
// units (little-endian), separated by a zero unit.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "FakeFirmware.h"
#include "platform/uefi/UefiRuntime.h"

namespace {

using zar::test::FakeFirmware;

std::vector<std::string> gExpected;
bool gRan = false;

// The conversion as UTF-16 (the firmware's strings) and UTF-8 define it,
// written apart from the runtime's: pairs join, a lone surrogate is U+FFFD.
std::string Utf8(const std::u16string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t code = text[i];
        bool high = code >= 0xD800 && code < 0xDC00;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
        else if (code >= 0xD800 && code < 0xE000)
            code = 0xFFFD;
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

EFI_STATUS Program(int argc, char* argv[])
{
    gRan = true;
    if (argc != static_cast<int>(gExpected.size()) || argv[argc] != nullptr)
        abort();
    for (int i = 0; i < argc; ++i)
        if (argv[i] == nullptr || gExpected[i] != argv[i])
            abort();
    return EFI_SUCCESS;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    bool olderShell = data[0] & 1;
    int failAfter = data[0] >> 1;
    size_t repeat = data[1] + 1u;
    data += 2;
    size -= 2;

    std::vector<std::u16string> words(1);
    for (size_t i = 0; i + 1 < size; i += 2) {
        char16_t unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
        if (unit == 0)
            words.emplace_back();
        else
            words.back() += unit;
    }
    // Repeated only as far as one word past the runtime's bound: beyond it
    // every line is refused alike, and a longer one only costs time.
    std::vector<std::u16string> line;
    for (size_t r = 0; r < repeat && line.size() <= static_cast<size_t>(zar::uefi::MAX_ARGUMENTS); ++r)
        line.insert(line.end(), words.begin(), words.end());
    if (line.size() > static_cast<size_t>(zar::uefi::MAX_ARGUMENTS) + 1)
        line.resize(zar::uefi::MAX_ARGUMENTS + 1);

    FakeFirmware firmware({.ShellParameters = !olderShell, .ShellInterface = olderShell, .Shell = true});
    firmware.SetArguments(line);
    firmware.poolFailAfter = failAfter ? failAfter - 1 : -1;
    gExpected.clear();
    for (const std::u16string& word : line)
        gExpected.push_back(Utf8(word));
    gRan = false;

    EFI_STATUS status = zar::uefi::RunApplication(firmware.Image(), firmware.System(), Program);
    bool tooMany = line.size() > static_cast<size_t>(zar::uefi::MAX_ARGUMENTS);
    if (tooMany && (gRan || status != EFI_INVALID_PARAMETER))
        abort();
    if (!tooMany && gRan != (status == EFI_SUCCESS))
        abort();
    if (!tooMany && !gRan && status != EFI_OUT_OF_RESOURCES)
        abort();
    if (firmware.liveAllocations != 0 || firmware.openHandles != 0)
        abort();
    return 0;
}
