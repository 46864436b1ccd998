// The command line of a run that no Shell started: the boot manager (a boot
// option, or \EFI\BOOT\BOOTX64.EFI on a stick) or another program. A boot
// option's optional data reaches the image as its load options (EDK2's
// UefiBootManagerLib/BmBoot.c, EfiBootManagerBoot, gives them to every
// option it did not make up itself); what the Shell's "bcfg boot -opt" or an
// OS's boot-entry tool writes there is a UCS-2 command line. Without one,
// zar.args in the image's folder holds the words.
#include "platform/Platform.h"
#include "platform/uefi/CommandWords.h"
#include "platform/uefi/UefiRuntime.h"

namespace zar::uefi {
namespace {

EFI_GUID gLoadedImageGuid = EFI_LOADED_IMAGE_PROTOCOL_GUID;

constexpr const char* ARGS_FILE = "zar.args";
// argv[0] when the line names no program of its own.
char16_t gProgramName[] = u"zar";
constexpr size_t MAX_PATH_UNITS = 1024;

void* Pool(size_t bytes)
{
    void* memory = nullptr;
    return EFI_ERROR(gFirmware.Boot->AllocatePool(EfiLoaderData, bytes, &memory)) ? nullptr : memory;
}

// The folder part of the image's file path (MEDIA_FILEPATH_DP nodes, one
// path in one or more pieces), up to its last '\': "\EFI\BOOT\" for
// \EFI\BOOT\BOOTX64.EFI. nullptr for an image loaded from elsewhere (a
// firmware volume, memory): its names are the volume root's.
char16_t* ImageFolder(const EFI_DEVICE_PATH_PROTOCOL* node)
{
    auto* folder = static_cast<char16_t*>(Pool((MAX_PATH_UNITS + 1) * sizeof(char16_t)));
    if (folder == nullptr)
        return nullptr;
    size_t length = 0;
    size_t lastSeparator = 0;
    for (int nodes = 0; node && nodes < 64 && node->Type != END_DEVICE_PATH_TYPE; ++nodes) {
        size_t size = static_cast<size_t>(node->Length[0] | node->Length[1] << 8);
        if (size < 4)
            break;
        if (node->Type == MEDIA_DEVICE_PATH && node->SubType == MEDIA_FILEPATH_DP) {
            const auto* bytes = reinterpret_cast<const uint8_t*>(node) + 4;
            if (length > 0 && folder[length - 1] != u'\\' && length < MAX_PATH_UNITS)
                folder[length++] = u'\\';
            for (size_t i = 0; i + 1 < size - 4 && length < MAX_PATH_UNITS; i += 2) {
                char16_t unit = static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
                if (unit == 0)
                    break;
                folder[length++] = unit;
            }
        }
        node = reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL*>(reinterpret_cast<const uint8_t*>(node) + size);
    }
    for (size_t i = 0; i < length; ++i) {
        if (folder[i] == u'\\')
            lastSeparator = i + 1;
    }
    if (lastSeparator == 0) {
        gFirmware.Boot->FreePool(folder);
        return nullptr;
    }
    folder[lastSeparator] = 0;
    return folder;
}

void SayRefused(const char16_t* problem, size_t at)
{
    Print(u"\r\nCOMMAND LINE ERROR!! ");
    if (gFirmware.Words == WordsSource::LoadOptions)
        Print(u"The boot option's load options");
    else
        Print(u"%s%a", gFirmware.Folder ? gFirmware.Folder : u"\\", ARGS_FILE);
    Print(problem, static_cast<int>(at));
    Print(u" Nothing was sent to the EC.\r\n");
}

void SayProblem(LineCheck check)
{
    static_assert(MAX_ARGS_FILE_BYTES == 16384 && MAX_LINE_UNITS == 4096, "the message names the bounds");
    switch (check.Problem) {
    case LineProblem::NotText:
        SayRefused(u": not text at byte %d (UTF-8 is read, or UTF-16 with a byte-order mark).", check.At);
        break;
    case LineProblem::TooLong:
        SayRefused(u": too long (at most 16384 bytes, and 4096 characters on its line of words).", 0);
        break;
    case LineProblem::TwoLines:
        SayRefused(u": a second line of words, line %d (the words go on one line; # begins a comment line).",
                   check.At);
        break;
    case LineProblem::OpenQuote:
        SayRefused(u": a quote that is never closed.", 0);
        break;
    case LineProblem::NoWords:
        SayRefused(u": no words.", 0);
        break;
    case LineProblem::None:
        break;
    }
}

// Splits line (units long, in pool memory with room for a NUL) into the
// program's words: its name first, the one the line gives or "zar". A line
// without a word but the name is NoShell when words are not required (load
// options may carry the name alone), refused otherwise.
ArgumentResult WordsOfLine(char16_t* line, size_t units, bool wordsRequired, ArgumentList* list)
{
    size_t capacity = units / 2 + 2;
    auto** words = static_cast<char16_t**>(Pool((capacity + 1) * sizeof(char16_t*)));
    if (words == nullptr)
        return ArgumentResult::OutOfMemory;
    size_t count = 0;
    LineCheck check = SplitWords(line, units, words + 1, capacity, &count);
    words[0] = gProgramName;
    char16_t** argv = words;
    if (count > 0 && NamesTheProgram(words[1])) {
        ++argv;  // the line's own first word names the program
        --count;
    }
    ArgumentResult result = ArgumentResult::Refused;
    if (check.Problem == LineProblem::None && count == 0 && !wordsRequired)
        result = ArgumentResult::NoShell;
    else if (check.Problem == LineProblem::None && count == 0)
        SayProblem({LineProblem::NoWords, 0});
    else if (check.Problem == LineProblem::None)
        result = CopyArguments(reinterpret_cast<CHAR16**>(argv), count + 1, list);
    else
        SayProblem(check);
    gFirmware.Boot->FreePool(words);
    return result;
}

// The load options' command line, or NoShell when they hold none (no
// options, data that is not text, or only the program's name).
ArgumentResult WordsFromLoadOptions(const EFI_LOADED_IMAGE_PROTOCOL* image, ArgumentList* list)
{
    gFirmware.OptionBytes = image->LoadOptionsSize;
    size_t units = 0;
    if (!LoadOptionsAreText(image->LoadOptions, image->LoadOptionsSize, &units))
        return ArgumentResult::NoShell;
    gFirmware.Words = WordsSource::LoadOptions;
    if (units > MAX_LINE_UNITS) {
        SayProblem({LineProblem::TooLong, 0});
        return ArgumentResult::Refused;
    }
    auto* line = static_cast<char16_t*>(Pool((units + 1) * sizeof(char16_t)));
    if (line == nullptr)
        return ArgumentResult::OutOfMemory;
    const auto* bytes = static_cast<const uint8_t*>(image->LoadOptions);
    for (size_t i = 0; i < units; ++i)
        line[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    ArgumentResult result = WordsOfLine(line, units, false, list);
    gFirmware.Boot->FreePool(line);
    return result;
}

// What zar.args says, read from file into bytes and decoded into line: its
// words, or a refusal after saying why.
ArgumentResult ReadArgsFile(PlatformFile* file, uint8_t* bytes, char16_t* line, ArgumentList* list)
{
    size_t size = file ? FileRead(bytes, 1, MAX_ARGS_FILE_BYTES + 1, file) : 0;
    if (file == nullptr || FileReadFailed(file)) {
        SayRefused(u": can't be read.", 0);
        return ArgumentResult::Refused;
    }
    size_t units = 0;
    LineCheck check = DecodeArgsFile(bytes, size, line, MAX_LINE_UNITS + 1, &units);
    if (check.Problem != LineProblem::None) {
        SayProblem(check);
        return ArgumentResult::Refused;
    }
    return WordsOfLine(line, units, true, list);
}

// zar.args, or NoShell when there is none.
ArgumentResult WordsFromArgsFile(ArgumentList* list)
{
    PlatformFile* file = FileOpen(ARGS_FILE, "rb");
    if (file == nullptr && FileNameIsFree(ARGS_FILE))
        return ArgumentResult::NoShell;
    gFirmware.Words = WordsSource::ArgsFile;
    auto* bytes = static_cast<uint8_t*>(Pool(MAX_ARGS_FILE_BYTES + 1));
    auto* line = static_cast<char16_t*>(Pool((MAX_LINE_UNITS + 1) * sizeof(char16_t)));
    ArgumentResult result = bytes && line ? ReadArgsFile(file, bytes, line, list) : ArgumentResult::OutOfMemory;
    if (file)
        FileClose(file);
    if (bytes)
        gFirmware.Boot->FreePool(bytes);
    if (line)
        gFirmware.Boot->FreePool(line);
    return result;
}

}  // namespace

ArgumentResult CollectWordsWithoutShell(ArgumentList* list)
{
    *list = ArgumentList{};
    gFirmware.Words = WordsSource::None;
    EFI_LOADED_IMAGE_PROTOCOL* image = nullptr;
    if (EFI_ERROR(gFirmware.Boot->OpenProtocol(gFirmware.Image, &gLoadedImageGuid, reinterpret_cast<void**>(&image),
                                               gFirmware.Image, nullptr, EFI_OPEN_PROTOCOL_GET_PROTOCOL)))
        image = nullptr;
    if (image)
        gFirmware.Folder = ImageFolder(image->FilePath);

    ArgumentResult result = image ? WordsFromLoadOptions(image, list) : ArgumentResult::NoShell;
    if (result == ArgumentResult::NoShell)
        result = WordsFromArgsFile(list);
    if (result == ArgumentResult::NoShell) {
        gFirmware.Words = WordsSource::None;
        CHAR16* alone[] = {reinterpret_cast<CHAR16*>(gProgramName)};
        result = CopyArguments(alone, 1, list);
    }
    return result;
}

}  // namespace zar::uefi
