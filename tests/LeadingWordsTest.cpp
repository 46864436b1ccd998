// The words that lead a command line ("/log FILE", "/backup FILE", "/keep
// START-END") and the verb words count only before the verb or the classic
// image. Anywhere else they are refused before the EC is touched, by name,
// and nothing they name is created.
#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "Applications/Main/Main.h"
#include "platform/RunEnding.h"
#include "Harness.h"

namespace zar::test {
namespace {

TEST(LeadingWords, OutOfPlaceTheyAreRefusedBeforeTheEc)
{
    std::string name = WriteTempFile("lead.bin", MakeImage(0x12345));
    remove("lead.log");
    remove("lead-backup.bin");
    struct Case {
        std::vector<std::string> Words;
        std::string Word;  // the one the refusal names
    } cases[] = {
        // A kept range that would have been written, the EC left in follow mode, status 0.
        {{"/update", name, "p", "/keep", "1000-1FFF"}, "/keep"},
        {{name, "/keep", "1000-1FFF"}, "/keep"},
        {{name, "p", "/keep", "1000-1FFF"}, "/keep"},
        {{"/keep", "0-FFF", "/update", name, "p", "x", "/keep", "1000-1FFF"}, "/keep"},
        {{"/update", name, "/backup", "lead-backup.bin"}, "/backup"},
        {{name, "p", "x", "/log", "lead.log"}, "/log"},
        {{"/verify", name, "p", "/log", "lead.log"}, "/log"},
        {{"/log", "lead.log", "/probe", "/keep", "0-FFF"}, "/keep"},
        // A verb word after the image or another verb.
        {{name, "/update"}, "/update"},
        {{name, "p", "x", "/verify"}, "/verify"},
        {{"/update", name, "/verify"}, "/verify"},
        {{"/probe", "/read"}, "/read"},
        {{"/read", "chip.bin", "/probe"}, "/probe"},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& word : c.Words)
            line += " " + word;
        SCOPED_TRACE(line);
        Rig rig;
        EXPECT_EQ(rig.Run(c.Words), EXIT_BAD_IMAGE) << rig.Output();
        EXPECT_FALSE(rig.Trace().TouchedPorts());
        EXPECT_NE(rig.Output().find("COMMAND LINE ERROR!! " + c.Word + " is out of place"), std::string::npos)
            << rig.Output();
        EXPECT_EQ(fopen("lead-backup.bin", "rb"), nullptr);
        EXPECT_EQ(fopen("chip.bin", "rb"), nullptr);
    }
    // Only the lines that named it as their leading word wrote a record, of
    // their refusal.
    std::vector<uint8_t> log = ReadFileBytes("lead.log");
    std::string text(log.begin(), log.end());
    EXPECT_EQ(CountOf(text, "ZAR-END "), 1u) << text;
    EXPECT_EQ(CountOf(text, "status=2 (BAD_IMAGE) close=none"), 1u) << text;
}

// In their place the leading words may come in any order.
TEST(LeadingWords, InTheirPlaceInAnyOrder)
{
    std::vector<uint8_t> image = MakeImage(0x12345);
    std::string name = WriteTempFile("lead-order.bin", image);
    remove("lead-order.log");
    Rig rig;
    rig.StopTracing();
    std::copy(image.begin(), image.end(), rig.Flash().begin());
    EXPECT_EQ(rig.Run({"/keep", "20000-20FFF", "/log", "lead-order.log", "/update", name, "p"}), EXIT_OK)
        << rig.Output();
    EXPECT_NE(rig.Output().find("0 kept"), std::string::npos);  // the image ends before 20000
    std::vector<uint8_t> log = ReadFileBytes("lead-order.log");
    EXPECT_NE(std::string(log.begin(), log.end()).find("image=\"" + name + "\""), std::string::npos);
}

// "/wait SECONDS" and "/then reset|off" ask for the program's end: refused
// before the EC when they can't be read, and "/then" kept only after a run
// that ended well with the EC handed back.
TEST(LeadingWords, WaitAndThenAskForTheEndOnlyAfterAGoodRun)
{
    std::vector<uint8_t> image = MakeImage(0x1000);
    std::string name = WriteTempFile("lead-then.bin", image);
    struct Refused {
        std::vector<std::string> Words;
        std::string Says;
    } refused[] = {
        {{"/wait", "soon", "/probe"}, "/wait needs a number of seconds from 0 to 3600"},
        {{"/wait", "3601", "/probe"}, "/wait needs a number of seconds from 0 to 3600"},
        {{"/then", "halt", "/probe"}, "/then takes reset or off"},
        {{"/then"}, "/then takes reset or off"},
        {{name, "p", "x", "/then", "off"}, "/then is out of place"},
    };
    for (const Refused& r : refused) {
        SCOPED_TRACE(r.Says);
        Rig rig;
        EXPECT_EQ(rig.Run(r.Words), EXIT_BAD_IMAGE);
        EXPECT_FALSE(rig.Trace().TouchedPorts());
        EXPECT_NE(rig.Output().find("COMMAND LINE ERROR!! " + r.Says), std::string::npos) << rig.Output();
        EXPECT_EQ(LastRunEnding().Then, AfterRun::Return);
    }

    struct Ending {
        std::vector<std::string> Words;
        AfterRun Then;
        bool EcInFollowMode;
        const char* Says;  // why /then is not carried out; nullptr: it is
    } endings[] = {
        {{"/then", "OFF", "/wait", "5", "/probe"}, AfterRun::PowerOff, false, nullptr},
        {{"/wait", "0", "/then", "reset", name, "p"}, AfterRun::Reset, false, nullptr},
        {{"/then", "reset", name, "p", "x"}, AfterRun::Return, true, "/then reset is not carried out: the EC stays in follow mode."},
        {{"/then", "off", "/verify", name}, AfterRun::Return, false, "/then off is not carried out: the run did not end well"},
        {{"/then", "off"}, AfterRun::Return, false, "/then off is not carried out: nothing was run."},
    };
    for (const Ending& e : endings) {
        SCOPED_TRACE(e.Words.back());
        Rig rig;
        rig.StopTracing();
        rig.Run(e.Words);
        RunEnding ending = LastRunEnding();
        EXPECT_EQ(ending.Then, e.Then) << rig.Output();
        EXPECT_EQ(ending.EcInFollowMode, e.EcInFollowMode);
        if (e.Says)
            EXPECT_NE(rig.Output().find(e.Says), std::string::npos) << rig.Output();
        else
            EXPECT_EQ(rig.Output().find("is not carried out"), std::string::npos) << rig.Output();
    }
    EXPECT_TRUE(LastRunEnding().WaitGiven == false);
}

// The words an operator may mistype or type in another case. A verb or a
// leading word means the same in any case (the Shell's own switches ignore
// it); a first word that begins with "/" and names no verb is refused with
// the verbs, before the EC is touched; the classic line's words keep their
// exact meaning ("/J" is no "/j").
TEST(Words, AnyCaseForVerbsAndLeadingWordsAndNoneForTheRest)
{
    std::string name = WriteTempFile("words.bin", MakeImage(0x12345, "TESTMOD "));
    remove("words.log");
    struct Case {
        std::vector<std::string> Words;
        int Status;
        std::string Says;  // in the console text
        bool TouchesPorts;
    } cases[] = {
        {{"/updte", name}, EXIT_BAD_IMAGE, "UNKNOWN VERB!! /updte names no verb; did you mean /update?", false},
        {{"/LOG", "words.log", "/Prob", "/j"}, EXIT_BAD_IMAGE, "UNKNOWN VERB!! /Prob names no verb; did you mean /probe?",
         false},
        {{"/flash", name, "p"}, EXIT_BAD_IMAGE, "The verbs: /probe /read /verify /update", false},
        {{"/PROBE"}, EXIT_OK, "Part             : W25X40", true},
        {{"/Update", name, "p"}, EXIT_OK, "Plan             : ", true},
        {{"/KEEP", "0-FFF", "/update", name, "p"}, EXIT_OK, "1 kept", true},
        {{"/Log", "words.log", "/VERIFY", name, "p"}, EXIT_FLASH_FAILED, "VERIFY FAILED!!", true},
        {{"/update", name, "p", "/Keep", "1000-1FFF"}, EXIT_BAD_IMAGE, "/Keep is out of place", false},
        // "/J" in the fourth place is no "/j": a good run without a closing command.
        {{name, "p", "x", "/J"}, EXIT_OK, "Current F/W Checksum", true},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& word : c.Words)
            line += " " + word;
        SCOPED_TRACE(line);
        Rig rig;
        EXPECT_EQ(rig.Run(c.Words), c.Status) << rig.Output();
        EXPECT_NE(rig.Output().find(c.Says), std::string::npos) << rig.Output();
        EXPECT_EQ(rig.Trace().TouchedPorts(), c.TouchesPorts);
        if (c.Words.back() == "/J") {
            EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::Follow);
        }
    }
    // Both lines that began with /log wrote their record, under either case.
    std::vector<uint8_t> log = ReadFileBytes("words.log");
    EXPECT_EQ(CountOf(std::string(log.begin(), log.end()), "ZAR-END "), 2u);
}

}  // namespace
}  // namespace zar::test
