// A run the boot manager starts, without a Shell: its words from the boot
// option's load options or from zar.args beside the program, split as the
// Shell splits a typed line; its files in the program's folder; its end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeFirmware.h"
#include "platform/Platform.h"
#include "platform/uefi/UefiRuntime.h"

namespace zar::test {
namespace {

using uefi::RunApplication;

std::vector<std::string> gWords;
int gRuns = 0;

EFI_STATUS Record(int argc, char* argv[])
{
    ++gRuns;
    gWords.assign(argv, argv + argc);
    return EFI_SUCCESS;
}

std::vector<uint8_t> Bytes(const std::string& text)
{
    return {text.begin(), text.end()};
}

// UTF-16 with a byte-order mark, or without (mark false), little-endian
// unless big.
std::vector<uint8_t> Utf16(const std::u16string& text, bool mark = true, bool big = false)
{
    std::vector<uint8_t> bytes;
    std::u16string all = mark ? u"\uFEFF" + text : text;
    for (char16_t unit : all) {
        uint8_t low = static_cast<uint8_t>(unit), high = static_cast<uint8_t>(unit >> 8);
        bytes.push_back(big ? high : low);
        bytes.push_back(big ? low : high);
    }
    return bytes;
}

class BootManagerRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        gWords.clear();
        gRuns = 0;
    }
    FakeFirmware& Machine(bool shell = false)
    {
        firmware_.reset();  // one machine at a time
        firmware_ = std::make_unique<FakeFirmware>(
            FakeFirmware::Options{.ShellParameters = shell, .ShellInterface = false, .Shell = shell});
        firmware_->SetImagePath(u"\\EFI\\BOOT\\BOOTX64.EFI");
        firmware_->stallSleeps = false;
        return *firmware_;
    }
    EFI_STATUS Run(FakeFirmware& firmware, uefi::Program program = Record)
    {
        EFI_STATUS status = RunApplication(firmware.Image(), firmware.System(), program);
        EXPECT_EQ(firmware.liveAllocations, 0);
        EXPECT_EQ(firmware.openHandles, 0);
        return status;
    }
    static std::string Console(const FakeFirmware& firmware)
    {
        std::string text;
        for (char16_t unit : firmware.console)
            text += unit < 0x80 ? static_cast<char>(unit) : '?';
        return text;
    }

private:
    std::unique_ptr<FakeFirmware> firmware_;
};

// zar.args as an editor may leave it, and as it should not be: the words
// the program gets, or the refusal (status 2's EFI_LOAD_ERROR) and its words.
TEST_F(BootManagerRun, ArgsFileWordsOrARefusal)
{
    struct Case {
        const char* Name;
        std::vector<uint8_t> File;
        std::vector<std::string> Words;  // empty: refused
        const char* Says;
    } cases[] = {
        {"plain", Bytes("/update ec.bin p\n"), {"zar", "/update", "ec.bin", "p"}, nullptr},
        {"comments, CR LF, no last line end", Bytes("# flash\r\n\r\n  # again\r\n\t/probe  /j"),
         {"zar", "/probe", "/j"}, nullptr},
        {"UTF-8 mark, the program's name, quotes", Bytes("\xEF\xBB\xBFzar.efi /log \"my log.txt\" /probe\n"),
         {"zar.efi", "/log", "my log.txt", "/probe"}, nullptr},
        {"as typed at the prompt, an escaped quote", Bytes("zar /read a^\"b.bin \"\"\n"),
         {"zar", "/read", "a\"b.bin", ""}, nullptr},
        {"UTF-16 little-endian", Utf16(u"ec.bin p\r\n"), {"zar", "ec.bin", "p"}, nullptr},
        {"UTF-16 big-endian, past ASCII", Utf16(u"caf\u00e9.bin \U0001F600", true, true),
         {"zar", "caf\xc3\xa9.bin", "\xf0\x9f\x98\x80"}, nullptr},
        {"empty", {}, {}, ": no words."},
        {"comments only", Bytes("# nothing yet\n\n   \n"), {}, ": no words."},
        {"the program's name alone", Bytes("ZAR.EFI\n"), {}, ": no words."},
        {"binary", {0x7F, 'E', 'L', 'F', 0, 1}, {}, ": not text at byte 0 "},
        {"UTF-16 without its mark", Utf16(u"ec.bin", false), {}, ": not text at byte 1 "},
        {"an overlong UTF-8 '/'", Bytes("ec\xC0\xAF.bin"), {}, ": not text at byte 2 "},
        {"a UTF-16 file cut in a unit", {0xFF, 0xFE, 'a', 0, 'b'}, {}, ": not text at byte 4 "},
        {"a lone surrogate", Utf16(std::u16string(u"a") + char16_t(0xDC00)), {}, ": not text at byte 4 "},
        {"two lines of words", Bytes("/probe\n# fine\n/read x.bin\n"), {}, "line 3"},
        {"an open quote", Bytes("/read \"x.bin\n"), {}, ": a quote that is never closed."},
        {"over 16384 bytes", Bytes(std::string(16385, '#')), {}, ": too long"},
        {"a line past 4096 characters", Bytes("/read " + std::string(5000, 'a')), {}, ": too long"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        SetUp();
        FakeFirmware& firmware = Machine();
        firmware.files[u"\\EFI\\BOOT\\zar.args"] = c.File;
        EFI_STATUS status = Run(firmware);
        if (c.Words.empty()) {
            EXPECT_EQ(status, EFI_LOAD_ERROR);
            EXPECT_EQ(gRuns, 0);
            std::string console = Console(firmware);
            EXPECT_NE(console.find("COMMAND LINE ERROR!! \\EFI\\BOOT\\zar.args"), std::string::npos) << console;
            EXPECT_NE(console.find(c.Says), std::string::npos) << console;
            EXPECT_NE(console.find("Nothing was sent to the EC."), std::string::npos) << console;
        } else {
            EXPECT_EQ(status, EFI_SUCCESS);
            EXPECT_EQ(gWords, c.Words);
        }
    }
}

// A boot option's optional data, as the firmware hands it over: taken
// before zar.args when it is a command line, passed over when it is not.
TEST_F(BootManagerRun, LoadOptionsFirstWhenTheyAreACommandLine)
{
    std::vector<uint8_t> guid = {0x4E, 0xAC, 0x08, 0x81, 0x11, 0x9F, 0x59, 0x4D,
                                 0x00, 0x00, 0xE2, 0x1A, 0x52, 0x2C, 0x59, 0xB2};
    struct Case {
        const char* Name;
        std::vector<uint8_t> Options;
        std::vector<std::string> Words;  // empty: refused
    } cases[] = {
        {"bcfg's quoted data, NUL-terminated", Utf16(std::u16string(u"/probe /j\0", 10), false), {"zar", "/probe", "/j"}},
        {"no NUL, a loader path in front", Utf16(u"\\EFI\\BOOT\\BOOTX64.EFI /probe", false), {"\\EFI\\BOOT\\BOOTX64.EFI", "/probe"}},
        {"binary data", guid, {"zar", "/read", "args.bin"}},
        {"an odd size", {'/', 0, 'p'}, {"zar", "/read", "args.bin"}},
        {"the loader's name alone", Utf16(u"zar.efi", false), {"zar", "/read", "args.bin"}},
        {"blanks", Utf16(u"   ", false), {"zar", "/read", "args.bin"}},
        {"an open quote", Utf16(u"/read \"x", false), {}},
        {"past 4096 characters", Utf16(std::u16string(5000, u'a'), false), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        SetUp();
        FakeFirmware& firmware = Machine();
        firmware.files[u"\\EFI\\BOOT\\zar.args"] = Bytes("/read args.bin\n");
        firmware.SetLoadOptions(c.Options);
        EFI_STATUS status = Run(firmware);
        if (c.Words.empty()) {
            EXPECT_EQ(status, EFI_LOAD_ERROR);
            EXPECT_NE(Console(firmware).find("COMMAND LINE ERROR!! The boot option's load options"),
                      std::string::npos)
                << Console(firmware);
        } else {
            EXPECT_EQ(gWords, c.Words);
        }
    }
}

// No words anywhere: the usage (the program with its name alone), then
// where the run looked, how it ended, and a wait that is bounded.
TEST_F(BootManagerRun, NoWordsAnywhereRunsTheProgramAloneAndSaysWhere)
{
    FakeFirmware& firmware = Machine();
    firmware.SetLoadOptions({1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0});  // U+0001: no text
    EXPECT_EQ(Run(firmware), EFI_SUCCESS);
    EXPECT_EQ(gWords, std::vector<std::string>{"zar"});
    std::string console = Console(firmware);
    EXPECT_NE(console.find("No command line: the boot option's 16 bytes of load options hold none, and there is no "
                           "\\EFI\\BOOT\\zar.args."),
              std::string::npos)
        << console;
    EXPECT_NE(console.find("RUN ENDED: EFI_SUCCESS (0x0). Press a key to go on (30 s)."), std::string::npos)
        << console;
    EXPECT_EQ(firmware.stalls, 30 * 20) << "the default wait, in 50 ms steps";
    EXPECT_EQ(firmware.watchdogDisables, 1) << "the boot manager's 5 minutes must not end the wait";
    EXPECT_EQ(firmware.resetType, -1);

    // A directory in zar.args' place can't be read.
    SetUp();
    FakeFirmware& other = Machine();
    other.directories.insert(u"\\EFI\\BOOT\\zar.args");
    EXPECT_EQ(Run(other), EFI_LOAD_ERROR);
    EXPECT_NE(Console(other).find("zar.args: can't be read."), std::string::npos) << Console(other);
}

EFI_STATUS OpenBesideTheImage(int, char*[])
{
    for (const char* name : {"ec.bin", "sub/new.bin", "\\top.bin", "fs0:\\ec.bin"})
        FileClose(FileOpen(name, "rb"));
    FileClose(FileOpen("zar.log", "ab"));
    return EFI_SUCCESS;
}

// Names are the image folder's; one from the root stays there, and a
// mapping means nothing without a Shell.
TEST_F(BootManagerRun, FilesAreFoundBesideTheImage)
{
    FakeFirmware& firmware = Machine();
    firmware.files[u"\\EFI\\BOOT\\zar.args"] = Bytes("/probe\n");
    for (auto name : {u"\\EFI\\BOOT\\ec.bin", u"\\EFI\\BOOT\\sub\\new.bin", u"\\top.bin"})
        firmware.files[name] = {1};
    Run(firmware, OpenBesideTheImage);
    EXPECT_EQ(firmware.openedNames,
              (std::vector<std::u16string>{u"\\EFI\\BOOT\\zar.args", u"\\EFI\\BOOT\\ec.bin",
                                           u"\\EFI\\BOOT\\sub\\new.bin", u"\\top.bin", u"\\EFI\\BOOT\\zar.log"}));
    EXPECT_EQ(firmware.files.count(u"\\EFI\\BOOT\\zar.log"), 1u);
}

RunEnding gAsked;
EFI_STATUS gEndsWith = EFI_SUCCESS;

EFI_STATUS AskForAnEnding(int, char*[])
{
    uefi::SetRunEnding(gAsked);
    return gEndsWith;
}

// The end: nothing added under the Shell unless asked; the reset or the
// power-off only after success; a key ends the wait.
TEST_F(BootManagerRun, TheEndWaitsAndSwitchesOffOnlyAfterSuccess)
{
    struct Case {
        const char* Name;
        bool Shell;
        RunEnding Asked;
        EFI_STATUS Status;
        std::u16string Keys;
        const char* Says;  // nullptr: nothing at all
        int Stalls;
        int Reset;
    } cases[] = {
        {"the Shell, nothing asked", true, {}, EFI_DEVICE_ERROR, u"", nullptr, 0, -1},
        {"the Shell, /then off", true, {false, 0, AfterRun::PowerOff, false}, EFI_SUCCESS, u"",
         "RUN ENDED: EFI_SUCCESS (0x0). Then the machine powers off.", 0, EfiResetShutdown},
        {"the Shell, /then reset after a failure", true, {false, 0, AfterRun::Reset, true}, EFI_TIMEOUT, u"",
         nullptr, 0, -1},
        {"the Shell, /wait 1 after a failure", true, {true, 1, AfterRun::Return, true}, EFI_TIMEOUT, u"",
         "RUN ENDED: EFI_TIMEOUT (0x12). The EC stays in follow mode: do not switch off", 20, -1},
        {"no Shell, /wait 2, a key", false, {true, 2, AfterRun::Reset, false}, EFI_SUCCESS, u"x",
         "Then the machine resets. Press a key to go on (2 s).", 0, EfiResetCold},
        {"no Shell, /wait 0", false, {true, 0, AfterRun::Return, false}, EFI_LOAD_ERROR, u"",
         "RUN ENDED: EFI_LOAD_ERROR (0x1).\r", 0, -1},
        {"no Shell, /wait past its bound", false, {true, 99999, AfterRun::Return, false}, EFI_SUCCESS, u"",
         "(3600 s)", 3600 * 20, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        SetUp();
        FakeFirmware& firmware = Machine(c.Shell);
        firmware.files[u"\\EFI\\BOOT\\zar.args"] = Bytes("/probe\n");
        firmware.keys = c.Keys;
        gAsked = c.Asked;
        gEndsWith = c.Status;
        EXPECT_EQ(Run(firmware, AskForAnEnding), c.Status);
        std::string console = Console(firmware);
        if (c.Says)
            EXPECT_NE(console.find(c.Says), std::string::npos) << console;
        else
            EXPECT_EQ(console, "");
        EXPECT_EQ(firmware.stalls, c.Stalls);
        EXPECT_EQ(firmware.resetType, c.Reset);
    }
}

}  // namespace
}  // namespace zar::test
