// Our UEFI runtime on a fake firmware: the command line, files through the
// Shell and through the image's volume.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FakeFirmware.h"
#include "platform/Faults.h"
#include "platform/Platform.h"
#include "platform/uefi/UefiRuntime.h"

namespace zar::test {
namespace {

using uefi::gFirmware;
using uefi::RunApplication;

std::vector<std::string> gSeenArguments;
bool gSawNullAfterLast = false;
int gRuns = 0;

EFI_STATUS RecordArguments(int argc, char* argv[])
{
    ++gRuns;
    gSeenArguments.assign(argv, argv + argc);
    gSawNullAfterLast = argv[argc] == nullptr;
    return EFI_SUCCESS;
}

class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gSeenArguments.clear();
        gSawNullAfterLast = false;
        gRuns = 0;
    }
    void TearDown() override
    {
        if (firmware_) {
            uefi::CloseAllFiles();
            uefi::CloseVolume();
        }
        gFirmware = uefi::Firmware{};
        firmware_.reset();
        SetReadFailOffset(-1);
        SetWriteFailAfter(-1);
        SetAllocationFailAfter(-1);
    }
    FakeFirmware& Make(FakeFirmware::Options options = {})
    {
        firmware_.reset();  // one machine at a time
        firmware_ = std::make_unique<FakeFirmware>(options);
        return *firmware_;
    }
    // The services as RunApplication sets them up, for calling the file
    // functions directly.
    void UseFirmware(FakeFirmware& firmware, bool shell = true)
    {
        gFirmware = uefi::Firmware{};
        gFirmware.Image = firmware.Image();
        gFirmware.System = firmware.System();
        gFirmware.Boot = firmware.System()->BootServices;
        if (shell) {
            EFI_GUID guid = EFI_SHELL_PROTOCOL_GUID;
            void* protocol = nullptr;
            gFirmware.Boot->LocateProtocol(&guid, nullptr, &protocol);
            gFirmware.Shell = static_cast<EFI_SHELL_PROTOCOL*>(protocol);
        }
    }

private:
    std::unique_ptr<FakeFirmware> firmware_;
};

// ---- The command line --------------------------------------------------------

TEST_F(RuntimeTest, ArgumentsComeFromShellParametersAsUtf8)
{
    FakeFirmware& firmware = Make();
    firmware.SetArguments({u"zar", u"fs0:\\ec.bin", u"p", u"\u00e9\u20ac\U0001F600"});
    EXPECT_EQ(RunApplication(firmware.Image(), firmware.System(), RecordArguments), EFI_SUCCESS);
    ASSERT_EQ(gSeenArguments.size(), 4u);
    EXPECT_EQ(gSeenArguments[1], "fs0:\\ec.bin");
    EXPECT_EQ(gSeenArguments[3], "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
    EXPECT_TRUE(gSawNullAfterLast);
    EXPECT_EQ(firmware.liveAllocations, 0) << "argument copies left allocated";
}

TEST_F(RuntimeTest, OlderShellInterfaceIsTheFallback)
{
    FakeFirmware& firmware = Make({.ShellParameters = false, .ShellInterface = true, .Shell = true});
    firmware.SetArguments({u"zar", u"ec.bin"});
    RunApplication(firmware.Image(), firmware.System(), RecordArguments);
    EXPECT_EQ(gSeenArguments, (std::vector<std::string>{"zar", "ec.bin"}));
}

// The program sees the whole line or does not run: a cut line could turn
// a refused command into one that is acted on.
TEST_F(RuntimeTest, TheWholeCommandLineOrNone)
{
    FakeFirmware& firmware = Make();
    std::vector<std::u16string> many;
    for (int i = 0; i < 100; ++i)
        many.push_back(U16(std::to_string(i).c_str()));
    firmware.SetArguments(many);
    RunApplication(firmware.Image(), firmware.System(), RecordArguments);
    ASSERT_EQ(gSeenArguments.size(), 100u);
    EXPECT_EQ(gSeenArguments.back(), "99");
    EXPECT_TRUE(gSawNullAfterLast);
    EXPECT_EQ(firmware.liveAllocations, 0);

    many.resize(uefi::MAX_ARGUMENTS + 1, u"x");
    firmware.SetArguments(many);
    gRuns = 0;
    EXPECT_EQ(RunApplication(firmware.Image(), firmware.System(), RecordArguments), EFI_INVALID_PARAMETER);
    EXPECT_EQ(gRuns, 0);
    EXPECT_NE(firmware.console.find(u"Too many arguments"), std::u16string::npos);
    EXPECT_EQ(firmware.liveAllocations, 0);
}

TEST_F(RuntimeTest, LongArgumentsAndUnpairedSurrogatesConvertWhole)
{
    FakeFirmware& firmware = Make();
    std::u16string euros(5000, u'\u20ac');  // three bytes each
    std::u16string broken = u"a";
    broken += char16_t(0xD800);  // high surrogate, no low one
    broken += u"b";
    broken += char16_t(0xDC00);  // low surrogate alone, at the end
    firmware.SetArguments({u"zar", euros, broken});
    RunApplication(firmware.Image(), firmware.System(), RecordArguments);
    ASSERT_EQ(gSeenArguments.size(), 3u);
    EXPECT_EQ(gSeenArguments[1].size(), 15000u);
    EXPECT_EQ(gSeenArguments[2], "a\xef\xbf\xbd" "b\xef\xbf\xbd");
}

TEST_F(RuntimeTest, NoMemoryForTheArgumentsIsReportedAndLeaksNothing)
{
    FakeFirmware& firmware = Make();
    firmware.SetArguments({u"zar", u"ec.bin", u"p"});
    firmware.poolFailAfter = 2;
    EXPECT_EQ(RunApplication(firmware.Image(), firmware.System(), RecordArguments), EFI_OUT_OF_RESOURCES);
    EXPECT_EQ(gRuns, 0);
    EXPECT_EQ(firmware.liveAllocations, 0);
}

// ---- Files through the Shell -------------------------------------------------

EFI_STATUS LeaveFilesOpen(int, char*[])
{
    PlatformFile* out = FileOpen("out.bin", "wb");
    FileWrite("abc", 1, 3, out);
    FileOpen("in.bin", "rb");
    return EFI_SUCCESS;
}

TEST_F(RuntimeTest, FilesLeftOpenAreClosedBeforeReturningToTheShell)
{
    FakeFirmware& firmware = Make();
    firmware.files[u"in.bin"] = {1, 2, 3};
    RunApplication(firmware.Image(), firmware.System(), LeaveFilesOpen);
    EXPECT_EQ(firmware.openHandles, 0);
    EXPECT_EQ(firmware.files[u"out.bin"], (std::vector<uint8_t>{'a', 'b', 'c'}));
    EXPECT_EQ(firmware.liveAllocations, 0);
}

TEST_F(RuntimeTest, NamesReachTheShellWithBackslashesAndInUtf16)
{
    FakeFirmware& firmware = Make();
    UseFirmware(firmware);
    firmware.files[u"fs0:\\ec\\new.bin"] = {1};
    firmware.files[u"caf\u00e9\\\U0001F600.bin"] = {2};
    EXPECT_NE(FileOpen("fs0:/ec/new.bin", "rb"), nullptr);
    EXPECT_NE(FileOpen("caf\xc3\xa9/\xf0\x9f\x98\x80.bin", "rb"), nullptr);
    // Malformed UTF-8 (a stray continuation byte, an overlong '/') is never
    // read as a separator or anything else but U+FFFD.
    EXPECT_EQ(FileOpen("a\x80" "b\xc0\xaf", "rb"), nullptr);
    ASSERT_EQ(firmware.openedNames.size(), 3u);
    EXPECT_EQ(firmware.openedNames[2], u"a\ufffdb\ufffd\ufffd");
}

TEST_F(RuntimeTest, DirectoriesAndUnknownModesAreRefused)
{
    FakeFirmware& firmware = Make();
    UseFirmware(firmware);
    firmware.directories.insert(u"fs0:\\");
    firmware.files[u"ec.bin"] = {1};
    EXPECT_EQ(FileOpen("fs0:\\", "rb"), nullptr);
    EXPECT_EQ(FileOpen("fs0:\\", "wb"), nullptr);
    EXPECT_EQ(FileOpen("ec.bin", "r+b"), nullptr);
    EXPECT_EQ(FileOpen("ec.bin", "a+b"), nullptr);
    EXPECT_EQ(firmware.openHandles, 0);
    EXPECT_EQ(firmware.liveAllocations, 0);
}

TEST_F(RuntimeTest, ReadsGatherShortChunksAndStopAtTheSimulatedFault)
{
    FakeFirmware& firmware = Make();
    UseFirmware(firmware);
    std::vector<uint8_t> image(70000);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 7);
    firmware.files[u"ec.bin"] = image;
    firmware.readChunk = 4096;

    PlatformFile* file = FileOpen("ec.bin", "rb");
    std::vector<uint8_t> buffer(0x8000);
    ASSERT_EQ(FileRead(buffer.data(), 1, buffer.size(), file), buffer.size());
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), image.begin()));
    ASSERT_EQ(FileRead(buffer.data(), 1, buffer.size(), file), buffer.size());
    EXPECT_EQ(FileRead(buffer.data(), 1, buffer.size(), file), 70000u - 0x10000);
    EXPECT_FALSE(FileReadFailed(file)) << "the file's end is no failure";

    ASSERT_EQ(FileSeek(file, 0x8000, FILE_SEEK_SET), 0);
    SetReadFailOffset(0x8000 + 100);
    EXPECT_EQ(FileRead(buffer.data(), 1, buffer.size(), file), 100u);
    EXPECT_TRUE(FileReadFailed(file));
    EXPECT_EQ(FileRead(buffer.data(), 1, buffer.size(), file), 0u);
    EXPECT_EQ(FileTell(file), 0x8000 + 100);
}

TEST_F(RuntimeTest, OneFileByEitherNameButNotTwoAlike)
{
    FakeFirmware& firmware = Make();
    UseFirmware(firmware);
    firmware.files[u"ec.bin"] = {1, 2};
    firmware.files[u"copy.bin"] = {1, 2};
    EXPECT_TRUE(SameFile("ec.bin", "ec.bin"));
    EXPECT_FALSE(SameFile("ec.bin", "copy.bin"));
    EXPECT_FALSE(SameFile("ec.bin", "missing.bin"));
    EXPECT_FALSE(SameFile("missing.bin", "missing.bin")) << "an output not yet made is no input";
    EXPECT_EQ(firmware.openHandles, 0);
    EXPECT_EQ(firmware.liveAllocations, 0);
}

TEST_F(RuntimeTest, SeeksMeasureTheFileAndRefuseNegativePositions)
{
    FakeFirmware& firmware = Make();
    UseFirmware(firmware);
    firmware.files[u"ec.bin"] = std::vector<uint8_t>(5000);
    PlatformFile* file = FileOpen("ec.bin", "rb");
    EXPECT_EQ(FileSeek(file, 0, FILE_SEEK_END), 0);
    EXPECT_EQ(FileTell(file), 5000);
    EXPECT_EQ(FileSeek(file, -10, FILE_SEEK_END), 0);
    EXPECT_EQ(FileTell(file), 4990);
    EXPECT_EQ(FileSeek(file, -5001, FILE_SEEK_END), -1);
    EXPECT_EQ(FileSeek(file, -1, FILE_SEEK_SET), -1);
    EXPECT_EQ(FileSeek(file, 0, 1), -1);
}

TEST_F(RuntimeTest, CloseReportsAFailedFlushAndRefusesUnknownHandles)
{
    FakeFirmware& firmware = Make();
    UseFirmware(firmware);
    PlatformFile* file = FileOpen("out.bin", "wb");
    firmware.flushFails = true;
    EXPECT_EQ(FileClose(file), -1);
    EXPECT_EQ(firmware.openHandles, 0);
    EXPECT_EQ(FileClose(file), -1) << "closed twice";
    EXPECT_EQ(FileRead(&firmware, 1, 1, file), 0u);
    EXPECT_EQ(FileClose(nullptr), -1);
}

TEST_F(RuntimeTest, AppendWritesAtTheEndAndCreatesAMissingFile)
{
    FakeFirmware& firmware = Make();
    UseFirmware(firmware);
    firmware.files[u"zar.log"] = {'a', 'b'};
    PlatformFile* log = FileOpen("zar.log", "ab");
    PlatformFile* fresh = FileOpen("new.log", "ab");
    EXPECT_EQ(FileWrite("cd", 1, 2, log), 2u);
    EXPECT_EQ(FileSeek(log, 0, FILE_SEEK_SET), 0);
    EXPECT_EQ(FileWrite("e", 1, 1, log), 1u) << "a write after a seek still goes to the end";
    EXPECT_EQ(FileWrite("x", 1, 1, fresh), 1u);
    EXPECT_EQ(FileClose(log), 0);
    firmware.flushFails = true;
    EXPECT_EQ(FileFlush(fresh), -1);
    EXPECT_EQ(firmware.files[u"zar.log"], (std::vector<uint8_t>{'a', 'b', 'c', 'd', 'e'}));
    EXPECT_EQ(firmware.files[u"new.log"], (std::vector<uint8_t>{'x'}));
}

// A simulated full disk holds the files opened for writing once it is armed:
// the write that reaches its end delivers what fits, later ones nothing.
TEST_F(RuntimeTest, WritesStopWhereTheSimulatedDiskIsFull)
{
    FakeFirmware& firmware = Make();
    UseFirmware(firmware);
    PlatformFile* trace = FileOpen("trace.txt", "wb");
    SetWriteFailAfter(5);
    PlatformFile* log = FileOpen("zar.log", "ab");
    PlatformFile* backup = FileOpen("backup.bin", "xb");
    EXPECT_EQ(FileWrite("abc", 1, 3, log), 3u);
    EXPECT_EQ(FileWrite("defg", 1, 4, backup), 2u);
    EXPECT_EQ(FileWrite("h", 1, 1, log), 0u);
    EXPECT_EQ(FileWrite("free", 1, 4, trace), 4u) << "opened before the fault";
    for (PlatformFile* file : {trace, log, backup})
        EXPECT_EQ(FileClose(file), 0);
    EXPECT_EQ(firmware.files[u"zar.log"], (std::vector<uint8_t>{'a', 'b', 'c'}));
    EXPECT_EQ(firmware.files[u"backup.bin"], (std::vector<uint8_t>{'d', 'e'}));
    EXPECT_EQ(firmware.files[u"trace.txt"].size(), 4u);
}

// "xb" claims a name only when nothing has it; FileRemove takes it back.
// With the Shell and on the image's volume alike.
TEST_F(RuntimeTest, ANewFileIsCreatedOnlyWhereNothingIsAndCanBeRemoved)
{
    for (bool shell : {true, false}) {
        SCOPED_TRACE(shell);
        FakeFirmware& firmware = Make({.ShellParameters = true, .ShellInterface = false, .Shell = shell});
        UseFirmware(firmware, shell);
        firmware.files[u"old.bin"] = {1, 2};
        firmware.directories.insert(u"dir");
        EXPECT_EQ(FileOpen("old.bin", "xb"), nullptr);
        EXPECT_EQ(FileOpen("dir", "xb"), nullptr);
        PlatformFile* fresh = FileOpen("new.bin", "xb");
        ASSERT_NE(fresh, nullptr);
        EXPECT_EQ(FileWrite("abc", 1, 3, fresh), 3u);
        EXPECT_EQ(FileClose(fresh), 0);
        EXPECT_EQ(firmware.files[u"new.bin"].size(), 3u);
        EXPECT_EQ(FileRemove("new.bin"), 0);
        EXPECT_EQ(firmware.files.count(u"new.bin"), 0u);
        EXPECT_EQ(FileRemove("missing.bin"), -1);
        EXPECT_EQ(firmware.files[u"old.bin"], (std::vector<uint8_t>{1, 2}));
        EXPECT_EQ(firmware.openHandles, 0);
        uefi::CloseVolume();
    }
}

TEST_F(RuntimeTest, OpenFilesAreBoundedByTheTable)
{
    FakeFirmware& firmware = Make();
    UseFirmware(firmware);
    firmware.files[u"ec.bin"] = {1};
    int opened = 0;
    while (FileOpen("ec.bin", "rb") && opened < 100)
        ++opened;
    EXPECT_EQ(opened, 16);
    EXPECT_EQ(uefi::CloseAllFiles(), 16);
    EXPECT_EQ(firmware.openHandles, 0);
}

// ---- Files without the Shell ---------------------------------------------------

TEST_F(RuntimeTest, WithoutTheShellNamesAreOnTheImagesVolume)
{
    FakeFirmware& firmware = Make({.ShellParameters = true, .ShellInterface = false, .Shell = false});
    UseFirmware(firmware, false);
    firmware.files[u"ec\\new.bin"] = {9, 8, 7};
    firmware.files[u"fs0:\\ec.bin"] = {1};

    PlatformFile* file = FileOpen("ec/new.bin", "rb");
    ASSERT_NE(file, nullptr);
    uint8_t bytes[3] = {};
    EXPECT_EQ(FileRead(bytes, 1, 3, file), 3u);
    EXPECT_EQ(bytes[0], 9);
    EXPECT_EQ(FileSeek(file, 0, FILE_SEEK_END), 0);
    EXPECT_EQ(FileTell(file), 3);
    // A mapping means nothing without the Shell: refused, not guessed.
    EXPECT_EQ(FileOpen("fs0:\\ec.bin", "rb"), nullptr);

    // No pool for the file's information: the size is unknown, nothing breaks.
    firmware.poolFailAfter = 1;
    EXPECT_EQ(FileSeek(file, 0, FILE_SEEK_END), -1);
    firmware.poolFailAfter = -1;

    PlatformFile* out = FileOpen("out.bin", "wb");
    EXPECT_EQ(FileWrite("ok", 1, 2, out), 2u);
    EXPECT_EQ(uefi::CloseAllFiles(), 2);
    EXPECT_EQ(firmware.files[u"out.bin"].size(), 2u);
    EXPECT_TRUE(firmware.volumeOpen);
    uefi::CloseVolume();
    EXPECT_FALSE(firmware.volumeOpen);
    EXPECT_EQ(firmware.liveAllocations, 0);
}

}  // namespace
}  // namespace zar::test
