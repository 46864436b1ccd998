// Start-up, the command line's roads and the module identity check.
#include <gtest/gtest.h>

#include <string>

#include "Applications/Main/Main.h"
#include "Applications/Main/RunState.h"
#include "Harness.h"
#include "ec/EcChannel.h"
#include "platform/Faults.h"

namespace zar::test {
namespace {

// The classic usage ends its line, and the verbs' usage follows it.
TEST(Startup, NoArgumentShowsUsageWithoutTouchingTheEc)
{
    Rig rig;
    EXPECT_EQ(rig.Run({}), EXIT_OK);
    EXPECT_EQ(rig.Output(), "{ATTR 07}{CLS}" + BANNER + "\r\nFlash FW Cammand :\r\nZARMOK [filename]\r\n"
                            "\r\nVerbs:\r\n"
                            "  zar /probe [/j]\r\n"
                            "  zar /read FILE [SIZE] [/j]\r\n"
                            "  zar /verify IMAGE [p] [/j]\r\n"
                            "  zar [/backup FILE] [/keep START-END]... /update IMAGE [p] [ARG3] [/j]\r\n"
                            "  /log FILE before any of them (or IMAGE) appends a record of the run to FILE\r\n"
                            "More: help zar, or zar -?\r\n");
    EXPECT_FALSE(rig.Trace().TouchedPorts());
    EXPECT_EQ(EcChannelPorts().Data, 0x62);
    EXPECT_EQ(EcChannelPorts().Command, 0x66);
    EXPECT_EQ(EcChannelPorts().Status, 0x66);
}

TEST(Startup, FileNameRoads)
{
    WriteTempFile("road.bin", MakeImage(0x100));
    struct Case {
        std::string name;
        int status;
        std::string output;
    } cases[] = {
        {"missing.bin", EXIT_BAD_IMAGE, "{ATTR 07}\r\nFILE NAME ERROR!!\r\n"},
        {"", EXIT_BAD_IMAGE, "{ATTR 07}\r\nFILE NAME ERROR!!\r\n"},
        // A name beginning with "/" is never flashed, even when it opens:
        // it names no verb.
        {"/j", EXIT_BAD_IMAGE,
         "{ATTR 07}\r\nUNKNOWN VERB!! /j names no verb. Nothing was sent to the EC.\r\n"
         "The verbs: /probe /read /verify /update (in any case; zar alone shows their usage).\r\n"},
        {AbsolutePath("road.bin"), EXIT_BAD_IMAGE,
         "{ATTR 07}\r\nUNKNOWN VERB!! " + AbsolutePath("road.bin") + " names no verb. Nothing was sent to the EC.\r\n"
         "The verbs: /probe /read /verify /update (in any case; zar alone shows their usage).\r\n"
         "  (" + AbsolutePath("road.bin") + " begins with \"/\", which marks a switch: give an image's path without it,"
         " as fs0:\\dir\\file or dir/file)\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        EXPECT_EQ(rig.Run({c.name, "p"}), c.status);
        EXPECT_EQ(rig.Output(), c.output);
        EXPECT_FALSE(rig.Trace().TouchedPorts());
    }
}

TEST(Startup, UnusableImagesStopBeforeTheEc)
{
    struct Case {
        const char* name;
        size_t size;
        const char* message;
    } cases[] = {
        {"empty.bin", 0, "The image is empty."},
        {"huge.bin", 0xFF0001, "The image has 16711681 bytes; 255 blocks (16711680 bytes) at most."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string image = WriteTempFile(c.name, std::vector<uint8_t>(c.size, 0x5A));
        for (const char* check : {"p", "x"}) {
            Rig rig;
            EXPECT_EQ(rig.Run({image, check}), EXIT_BAD_IMAGE);
            EXPECT_NE(rig.Output().find(c.message), std::string::npos) << rig.Output();
            EXPECT_FALSE(rig.Trace().TouchedPorts());
        }
    }
}

// The 32 EC memory reads of the module check, and what each outcome leaves.
class ModuleCheck : public ::testing::Test {
protected:
    int RunCheck(const std::string& imageName, const std::string& ecName, std::vector<std::string> extra = {})
    {
        image_ = WriteTempFile("module.bin", MakeImage(0x1000, imageName));
        rig_.SetEcModule(ecName);
        std::vector<std::string> args = {image_};
        args.insert(args.end(), extra.begin(), extra.end());
        return rig_.Run(args);
    }
    // The EC commands sent, without the follow-mode traffic.
    std::string MemoryReads()
    {
        std::string stream = rig_.Trace().CommandStream();
        return stream.substr(0, stream.find("DC"));
    }

    Rig rig_;
    std::string image_;
};

TEST_F(ModuleCheck, MismatchReportsBothNamesAndStops)
{
    EXPECT_EQ(RunCheck("KB9012 rev A", "KB9010 rev A"), EXIT_MODULE_MISMATCH);
    EXPECT_EQ(rig_.Output(), "{ATTR 07}" + BANNER +
                                 "\r\nModule is: KB9010 "
                                 "\r\nBIN File is: KB9012 "
                                 "\r\nZARMOK [filename] p"
                                 "\r\n        Didn't Check EC FILE & Module mach"
                                 "\r\n checksum F0");
    EXPECT_EQ(RunState.Checksum, 0xF0u);
    // 32 exchanges of 0x92 and the two address bytes, then nothing.
    size_t writes = 0, dataReads = 0;
    for (const PortAccess& a : rig_.Trace().accesses) {
        writes += a.Write;
        dataReads += !a.Write && a.Port == 0x62;
    }
    EXPECT_EQ(writes, 96u);
    EXPECT_EQ(dataReads, 32u);
    EXPECT_EQ(CountOf(rig_.Trace().Lines(), "out 66 92\n"), 32u);
    EXPECT_NE(rig_.Trace().Lines().find("out 62 08\nin 66 00\nin 66 00\nout 62 9f\n"), std::string::npos);
    EXPECT_EQ(rig_.Ec().Mode(), sim::EcMode::Normal);
}

TEST_F(ModuleCheck, SpaceMustStandAtTheSamePlace)
{
    // The image's name ends where the EC's goes on.
    EXPECT_EQ(RunCheck("ABC DEF", "ABCDDEF"), EXIT_MODULE_MISMATCH);
    EXPECT_NE(rig_.Output().find("Module is: ABCDDEF \r\nBIN File is: ABC \r\n"),
              std::string::npos)
        << rig_.Output();
}

TEST_F(ModuleCheck, MatchUpToTheFirstSpaceLeaves0x80)
{
    EXPECT_EQ(RunCheck("ABCD xyz", "ABCD qrs"), EXIT_OK);
    EXPECT_EQ(CountOf(MemoryReads(), "92"), 32u);
    std::vector<uint8_t> image = ReadFileBytes(image_);
    EXPECT_EQ(RunState.Checksum, 0x80u + ByteSum(image, image.size())) << "0x80 plus the bytes read back";
}

// Inside the module name the image is unreadable, not another module's: the
// EC is not asked for its name, and nothing at all goes to the ports.
TEST_F(ModuleCheck, AnImageUnreadableInsideTheNameIsAReadError)
{
    SetReadFailOffset(0x60);
    int status = RunCheck("SAME", "SAME");
    SetReadFailOffset(-1);
    EXPECT_EQ(status, EXIT_BAD_IMAGE);
    EXPECT_EQ(rig_.Output(), "{ATTR 07}\r\nFILE READ ERROR!! The image could not be read past offset 60 of 1000 bytes.\r\n");
    EXPECT_FALSE(rig_.Trace().TouchedPorts());
}

TEST_F(ModuleCheck, SkippedWithAnyWordBeginningWithP)
{
    for (const char* word : {"p", "P", "Pack", "pz"}) {
        SCOPED_TRACE(word);
        Rig rig;
        rig.SetEcModule("SOMETHING-ELSE");
        std::string image = WriteTempFile("skip.bin", MakeImage(0x1000, "MINE"));
        EXPECT_EQ(rig.Run({image, word}), EXIT_OK);
        EXPECT_TRUE(rig.Output().starts_with("{ATTR 07}\r\nTEST_A \r\n{CLS}")) << rig.Output();
        EXPECT_EQ(rig.Trace().CommandStream().substr(0, 2), "DC");
    }
    for (const char* word : {"-p", "x", "/j"}) {
        SCOPED_TRACE(word);
        Rig rig;
        rig.SetEcModule("SOMETHING-ELSE");
        std::string image = WriteTempFile("skip.bin", MakeImage(0x1000, "MINE"));
        EXPECT_EQ(rig.Run({image, word}), EXIT_MODULE_MISMATCH);
    }
}

TEST_F(ModuleCheck, ShortImageComparesZerosNotStaleMemory)
{
    // 0x60 bytes: the name's last 16 bytes are beyond the file.
    std::vector<uint8_t> image = MakeImage(0x60, "SHORTNAMEWITHOUTSPACESATALL12345");
    std::string path = WriteTempFile("short.bin", image);
    rig_.SetEcModule("SHORTNAMEWITHOUTSPACESATALL12345");
    EXPECT_EQ(rig_.Run({path}), EXIT_MODULE_MISMATCH);
    EXPECT_NE(rig_.Output().find("BIN File is: SHORTNAMEWITHOUT\r\n"), std::string::npos) << rig_.Output();
    for (size_t i = 16; i < 32; ++i)
        EXPECT_EQ(RunState.FileModuleName[i], 0) << i;
}

}  // namespace
}  // namespace zar::test
