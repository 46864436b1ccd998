// The byte sequences of the flash operations, as the EC's command port
// receives them (R is one FOLLOW_READ and its data-port read).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Harness.h"
#include "ec/EcChannel.h"
#include "flash/FlashErase.h"
#include "flash/FlashPrimitives.h"
#include "flash/FlashProgram.h"
#include "flash/FlashVerify.h"
#include "flash/SpiOpcodes.h"
#include "platform/Platform.h"

namespace zar::test {
namespace {

const std::string WAIT = "01 02 05 R 05";
const std::string WRDI_SEQ = WAIT + " 01 02 04 01 02 05 R 05";

std::string WrenSeq(bool sst)
{
    return WAIT + " 01 02 06" + (sst ? " 01 02 50" : "") + " 01 02 05 R 05";
}

std::string Hex(int value)
{
    char text[4];
    snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

std::string Writes(const std::vector<uint8_t>& bytes)
{
    std::string text;
    for (uint8_t b : bytes)
        text += " 03 " + Hex(b);
    return text;
}

const sim::ChipInfo* PagePart()
{
    return FindPart([](const sim::ChipInfo& c) {
        return c.FitsAlgorithms && c.Method == sim::ProgramMethod::Page && c.Part->Rdid[0] != 0xC2 &&
               c.Part->Rdid[0] != 0x20;
    });
}

class FlashOps : public ::testing::Test {
protected:
    // A chip with no busy time, in follow mode and identified; the trace
    // starts after that.
    void Start(const sim::ChipInfo* chip)
    {
        ASSERT_NE(chip, nullptr);
        sim::ChipConfig config;
        config.Busy = {sim::ReadDelay::Zero, 0, 1};
        rig_ = std::make_unique<Rig>(chip, sim::EcConfig{}, config);
        EcOpenChannel();
        rig_->With([&] {
            EcEnterFollowMode();
            chip_ = FlashIdentify();
        });
        rig_->Trace().accesses.clear();
        low_.assign(0x8000, 0);
        high_.assign(0x8000, 0);
        for (size_t i = 0; i < 0x8000; ++i) {
            low_[i] = static_cast<uint8_t>(i * 3 + 1);
            high_[i] = static_cast<uint8_t>(i * 5 + 2);
        }
        block_ = low_;
        block_.insert(block_.end(), high_.begin(), high_.end());
    }
    std::string Stream() { return rig_->Trace().CommandStream(); }

    std::unique_ptr<Rig> rig_;
    FlashChip chip_ = {};
    std::vector<uint8_t> low_, high_, block_;  // block_: low_ then high_
};

TEST_F(FlashOps, IdentifyThroughRdid)
{
    const sim::ChipInfo* chip =
        FindPart([](const sim::ChipInfo& c) { return c.Part->AnswersRdid && c.Part->Rdid[0] == 0xBF; });
    Start(chip);
    EXPECT_EQ(chip_.Id[0], 0xBF);
    EXPECT_EQ(chip_.Id[1], chip->Part->Rdid[1]);
    EXPECT_EQ(chip_.Id[2], chip->Part->Rdid[2]);
    EXPECT_FALSE(chip_.SstByRes());
    rig_->With([&] { FlashReportIdentity(chip_); });
    char line[64];
    snprintf(line, sizeof line, "\r\nDevice ID        : BF %X %X %X \r\n", chip->Part->Rdid[1], chip->Part->Rdid[2],
             chip_.Id[3]);
    EXPECT_EQ(rig_->Output(), std::string(line) + "SPI Vendor       : SST \r\n");
}

TEST_F(FlashOps, IdentifyFallsBackToResWithTwoEnds)
{
    const sim::ChipInfo* chip =
        FindPart([](const sim::ChipInfo& c) { return !c.Part->AnswersRdid && c.Part->ResId[0] == 0xBF; });
    ASSERT_NE(chip, nullptr);
    Start(chip);
    rig_->Trace().accesses.clear();
    rig_->With([&] { chip_ = FlashIdentify(); });
    EXPECT_EQ(Stream(), WAIT + " 01 02 9F R R R R " + WAIT + " 01 02 AB 03 00 03 00 03 00 R R R R 05 05");
    EXPECT_EQ(chip_.Id[0], 0xBF);
    EXPECT_EQ(chip_.Id[1], chip->Part->ResId[1]);
    EXPECT_EQ(chip_.Id[2], 0xBF);
    EXPECT_TRUE(chip_.SstByRes());
}

TEST_F(FlashOps, IdentityReportForMakersInAndOutOfTheTable)
{
    Start(PagePart());
    struct Case {
        uint8_t id[4];
        const char* text;
    } cases[] = {
        {{0x9F, 1, 2, 3}, "\r\nDevice ID        : 9F 1 2 3 \r\nSPI Vendor       : Atmel \r\n"},
        {{0x1F, 0x44, 0x01, 0}, "\r\nDevice ID        : 1F 44 1 0 \r\n"},
        {{0, 0, 0, 0}, "\r\nDevice ID        : 0 0 0 0 \r\n"},
        {{0x7F, 0x9D, 0x7C, 0}, "\r\nDevice ID        : 7F 9D 7C 0 \r\nSPI Vendor       : PMC \r\n"},
    };
    for (const Case& c : cases) {
        MemCopy(chip_.Id, c.id, 4);
        rig_->With([&] { FlashReportIdentity(chip_); });
        EXPECT_EQ(rig_->Output(), c.text);
    }
    EXPECT_FALSE(rig_->Trace().TouchedPorts());
}

TEST_F(FlashOps, UnprotectSendsEwsrOnlyForSst)
{
    for (bool sst : {false, true}) {
        SCOPED_TRACE(sst);
        Start(sst ? FindPart([](const sim::ChipInfo& c) { return c.FitsAlgorithms && c.Part->Rdid[0] == 0xBF; })
                  : PagePart());
        rig_->With([&] { FlashUnprotect(chip_); });
        EXPECT_EQ(Stream(), WAIT + " 01 02 06 01 02 05 R" + (sst ? " 01 02 50" : "") + " 01 02 01 03 00 " + WAIT);
        EXPECT_EQ(rig_->Chip().Status() & 0xFC, 0) << "protection cleared";
    }
}

TEST_F(FlashOps, EraseStepsAndTheirStop)
{
    Start(PagePart());
    FlashResult result = {};
    rig_->With([&] {
        FlashUnprotect(chip_);
    });
    rig_->Trace().accesses.clear();
    rig_->With([&] { result = FlashErase(chip_, 0x20000, 0x4000); });
    EXPECT_EQ(result.Outcome, FlashOutcome::Done);
    std::string expected;
    for (int i = 0; i < 4; ++i) {
        if (i)
            expected += ' ';
        expected += WrenSeq(false) + " 01 02 20 03 02 03 " + Hex(i * 16) + " 03 00 05 " + WAIT;
    }
    EXPECT_EQ(Stream(), expected);
    EXPECT_EQ(rig_->Output(), "Eraseing...      : ==== -- Erase OK. \r\n\r\n");
    for (uint32_t a = 0x20000; a < 0x24000; ++a)
        ASSERT_EQ(rig_->Flash()[a], 0xFF) << a;
    EXPECT_NE(rig_->Flash()[0x24000], 0xFF);

    // The end of the image stops the steps: 68 KiB ends one step into block 1.
    rig_->Trace().accesses.clear();
    rig_->With([&] { result = FlashErase(chip_, 0x10000, 0x1000); });
    EXPECT_EQ(CountOf(Stream(), "01 02 20 03"), 1u);
    EXPECT_EQ(rig_->Output(), "Eraseing...      : = -- Erase OK. \r\n\r\n");

    // A count of 0 sends nothing.
    rig_->Trace().accesses.clear();
    rig_->With([&] { result = FlashErase(chip_, 0x10000, 0); });
    EXPECT_FALSE(rig_->Trace().TouchedPorts());
    EXPECT_EQ(rig_->Output(), "Eraseing...      :  -- Erase OK. \r\n\r\n");
}

TEST_F(FlashOps, StPartsEraseWithD8)
{
    Start(FindPart([](const sim::ChipInfo& c) { return c.FitsAlgorithms && c.Part->Rdid[0] == 0x20; }));
    rig_->With([&] {
        FlashUnprotect(chip_);
        EXPECT_EQ(FlashErase(chip_, 0, 0x2000).Outcome, FlashOutcome::Done);  // an image of 8 KiB
    });
    EXPECT_EQ(CountOf(Stream(), "01 02 D8 03 00 03 00 03 00 05"), 1u);
    EXPECT_EQ(CountOf(Stream(), "01 02 D8 03 00 03 10 03 00 05"), 1u);
    EXPECT_EQ(CountOf(Stream(), "01 02 20"), 0u);
}

TEST_F(FlashOps, BlankCheckReadsOneTransactionAndStopsAtTheFirstDirtyByte)
{
    Start(PagePart());
    std::fill(rig_->Flash().begin() + 0x20000, rig_->Flash().begin() + 0x30000, 0xFF);
    rig_->Flash()[0x21234] = 0xFE;
    FlashResult blank = {};
    rig_->With([&] { blank = FlashBlankCheck(0x20000, 0x10000); });
    EXPECT_EQ(blank.Outcome, FlashOutcome::Differs);
    std::string reads;
    for (int i = 0; i < 0x1235; ++i)
        reads += " R";
    EXPECT_EQ(Stream(), WRDI_SEQ + " " + WAIT + " 01 02 0B 03 02 03 00 03 00 03 00" + reads + " " + WAIT);
    EXPECT_EQ(rig_->Output(), "Erase Verify...  : == -- Verify Fail. file counter=1234\r\n");
    EXPECT_EQ(blank.Bytes, 0x1234u);

    // The image's end ends the check, on the byte.
    rig_->Trace().accesses.clear();
    rig_->With([&] { blank = FlashBlankCheck(0x20000, 0x1001); });
    EXPECT_EQ(blank.Outcome, FlashOutcome::Done);
    EXPECT_EQ(CountOf(Stream(), "R"), 3u + 0x1001u + 1u);  // WRDI and wait polls, the bytes, the closing wait
    EXPECT_EQ(rig_->Output(), "Erase Verify...  : == -- Verify OK. \r\n\r\n");
}

TEST_F(FlashOps, PageProgramOfPage0x81)
{
    Start(PagePart());
    FlashResult result = {};
    rig_->With([&] { FlashUnprotect(chip_); });
    rig_->Trace().accesses.clear();
    rig_->With([&] { result = FlashProgramPages(chip_, 0x20000, block_.data(), 0x10000); });
    std::vector<uint8_t> data(high_.begin() + 0x100, high_.begin() + 0x200);
    std::string page = WrenSeq(false) + " 01 02 02 03 02 03 81 03 00" + Writes(data) + " " + WAIT;
    EXPECT_EQ(CountOf(Stream(), page), 1u);
    EXPECT_EQ(CountOf(Stream(), "01 02 02 03 02"), 256u);
    EXPECT_EQ(result.Bytes, 0x10000u);
    EXPECT_EQ(rig_->Output(), "Programing...    : ================ -- Programing OK. \r\n\r\n");
    EXPECT_EQ(Stream().substr(Stream().size() - WRDI_SEQ.size()), WRDI_SEQ);
}

TEST_F(FlashOps, PageProgramStopsAtTheImagesEnd)
{
    Start(PagePart());
    FlashResult result = {};
    rig_->With([&] { result = FlashProgramPages(chip_, 0x10000, block_.data(), 0x180); });  // image 0x10180 bytes
    EXPECT_EQ(result.Outcome, FlashOutcome::Done);
    EXPECT_EQ(CountOf(Stream(), "01 02 02 03 01"), 2u);
    std::vector<uint8_t> tail(low_.begin() + 0x100, low_.begin() + 0x180);
    EXPECT_NE(Stream().find("01 02 02 03 01 03 01 03 00" + Writes(tail) + " " + WAIT), std::string::npos);
    EXPECT_EQ(rig_->Output(), "Programing...    : = -- Programing OK. \r\n\r\n");
}

TEST_F(FlashOps, ChunkedProgramSendsEightChunksPerPage)
{
    Start(FindPart([](const sim::ChipInfo& c) { return c.Part->Rdid[0] == 0xC2 && c.Part->Rdid[2] == 0x10; }));
    FlashResult result = {};
    rig_->With([&] { result = FlashProgramChunked(chip_, 0x30000, block_.data(), 0x10000); });
    EXPECT_EQ(result.Outcome, FlashOutcome::Done);
    std::string stream = Stream();
    for (int c = 0; c < 8; ++c) {
        std::vector<uint8_t> chunk(low_.begin() + 5 * 256 + c * 32, low_.begin() + 5 * 256 + c * 32 + 32);
        EXPECT_EQ(CountOf(stream, WrenSeq(false) + " 01 02 02 03 03 03 05 03 " + Hex(c * 32) + Writes(chunk)), 1u)
            << c;
    }
    EXPECT_EQ(CountOf(stream, "01 02 02 03 03"), 2048u);
    EXPECT_EQ(CountOf(rig_->Output(), "="), 22u);
}

TEST_F(FlashOps, AaiStartsAndEnds)
{
    for (bool word : {false, true}) {
        SCOPED_TRACE(word);
        Start(FindPart([&](const sim::ChipInfo& c) {
            return c.FitsAlgorithms && c.Method == (word ? sim::ProgramMethod::AaiWord : sim::ProgramMethod::AaiByte);
        }));
        rig_->With([&] {
            FlashUnprotect(chip_);
        });
        rig_->Trace().accesses.clear();
        FlashResult result = {};
        rig_->With([&] {
            result = word ? FlashProgramAaiWord(chip_, 0x10000, block_.data(), 0x10000)
                          : FlashProgramAaiByte(chip_, 0x10000, block_.data(), 0x10000);
        });
        EXPECT_EQ(result.Outcome, FlashOutcome::Done);
        std::string op = word ? "AD" : "AF";
        std::string start = WrenSeq(true) + " 01 02 " + op + " 03 01 03 00 03 00";
        if (word)
            start += Writes({low_[0], low_[1]}) + " " + WAIT + " 01 02 AD" + Writes({low_[2], low_[3]}) + " " + WAIT;
        else
            start += Writes({low_[0]}) + " " + WAIT + " 01 02 AF" + Writes({low_[1]}) + " " + WAIT;
        EXPECT_EQ(Stream().substr(0, start.size()), start);
        std::string end = Writes({high_[0x7FFF]}) + " " + WAIT + " 01 02 " + op + " " + WRDI_SEQ + " " + WAIT;
        EXPECT_EQ(Stream().substr(Stream().size() - end.size()), end);
        EXPECT_EQ(CountOf(Stream(), "01 02 " + op), word ? 0x8001u : 0x10001u);
        EXPECT_EQ(CountOf(rig_->Output(), "="), 22u);
        // Not erased first: programming can only clear bits of what was there.
        for (uint32_t i = 0; i < 0x8000; ++i) {
            auto before = static_cast<uint8_t>(0xCC ^ ((0x10000 + i) >> 12));
            ASSERT_EQ(rig_->Flash()[0x10000 + i], before & low_[i]) << i;
        }
    }
}

TEST_F(FlashOps, VerifyCountsAndSumsTheDifferingByte)
{
    Start(PagePart());
    for (size_t i = 0; i < 0x8000; ++i) {
        rig_->Flash()[i] = low_[i];
        rig_->Flash()[0x8000 + i] = high_[i];
    }
    rig_->Flash()[0x8005] ^= 0x01;
    FlashResult ok = {};
    rig_->With([&] { ok = FlashVerify(0, block_.data(), 0x10000); });
    EXPECT_EQ(ok.Outcome, FlashOutcome::Differs);
    uint32_t sum = 0x80;
    for (size_t i = 0; i < 0x8000; ++i)
        sum += low_[i];
    for (size_t i = 0; i <= 5; ++i)
        sum += rig_->Flash()[0x8000 + i];
    EXPECT_EQ(0x80 + ok.Sum, sum);
    EXPECT_EQ(ok.Bytes, 0x8006u);
    char tail[32];
    snprintf(tail, sizeof tail, "\r\nstr2[10005]=%X", high_[5]);
    EXPECT_EQ(rig_->Output(), "Verify...        : ========= -- Verify Fail. \r\n" + std::string(tail));

    // A difference at the first byte of the low half: no mark, no str2 line.
    rig_->Flash()[0] ^= 0x80;
    rig_->With([&] { ok = FlashVerify(0, block_.data(), 0x10000); });
    EXPECT_EQ(ok.Outcome, FlashOutcome::Differs);
    EXPECT_EQ(rig_->Output(), "Verify...        :  -- Verify Fail. \r\n");
}

TEST_F(FlashOps, RangesOffBlockAndPageEdges)
{
    Start(PagePart());
    std::vector<uint8_t> data;
    for (uint8_t b = 0x10; b < 0x50; ++b)
        data.push_back(b);
    rig_->With([&] { FlashUnprotect(chip_); });

    // One sector from an address inside it: the erase goes to its start.
    rig_->Trace().accesses.clear();
    FlashResult result = {};
    rig_->With([&] { result = FlashErase(chip_, 0x35123, 1); });
    EXPECT_EQ(result.Outcome, FlashOutcome::Done);
    EXPECT_EQ(Stream(), WrenSeq(false) + " 01 02 20 03 03 03 50 03 00 05 " + WAIT);
    EXPECT_EQ(rig_->Flash()[0x34FFF], 0xCC ^ 0x34);
    EXPECT_EQ(rig_->Flash()[0x35000], 0xFF);
    EXPECT_EQ(rig_->Flash()[0x35FFF], 0xFF);
    EXPECT_EQ(rig_->Flash()[0x36000], 0xCC ^ 0x36);

    // 16 bytes across a page's end: two programs of 8.
    rig_->Trace().accesses.clear();
    rig_->With([&] { result = FlashProgramPages(chip_, 0x350F8, data.data(), 16); });
    EXPECT_EQ(result.Outcome, FlashOutcome::Done);
    EXPECT_EQ(Stream(), WrenSeq(false) + " 01 02 02 03 03 03 50 03 F8 03 10 03 11 03 12 03 13 03 14 03 15 03 16 03 17 " +
                            WAIT + " " + WrenSeq(false) +
                            " 01 02 02 03 03 03 51 03 00 03 18 03 19 03 1A 03 1B 03 1C 03 1D 03 1E 03 1F " + WAIT +
                            " " + WRDI_SEQ);
    EXPECT_EQ(rig_->Flash()[0x350F7], 0xFF);
    EXPECT_EQ(rig_->Flash()[0x350F8], 0x10);
    EXPECT_EQ(rig_->Flash()[0x35107], 0x1F);
    EXPECT_EQ(rig_->Flash()[0x35108], 0xFF);

    // A program that ends mid-page, then the chip read back over it and past.
    rig_->Trace().accesses.clear();
    rig_->With([&] { result = FlashProgramPages(chip_, 0x35200, data.data(), 0x30); });
    EXPECT_EQ(CountOf(Stream(), "01 02 02"), 1u);
    EXPECT_EQ(rig_->Flash()[0x3522F], 0x3F);
    EXPECT_EQ(rig_->Flash()[0x35230], 0xFF);
    rig_->With([&] { result = FlashVerify(0x35200, data.data(), 0x30); });
    EXPECT_EQ(result.Outcome, FlashOutcome::Done);
    EXPECT_EQ(result.Sum, 0x768u);  // 0x10 + ... + 0x3F
    rig_->With([&] { result = FlashBlankCheck(0x35230, 0xDD0); });
    EXPECT_EQ(result.Outcome, FlashOutcome::Done);
    rig_->With([&] { result = FlashVerify(0x35200, data.data(), 0x31); });
    EXPECT_EQ(result.Outcome, FlashOutcome::Differs);
    EXPECT_EQ(result.Bytes, 0x31u);

    // Past the 24-bit address space, or an odd AAI word: nothing is sent.
    rig_->Trace().accesses.clear();
    rig_->With([&] {
        EXPECT_EQ(FlashErase(chip_, 0xFFF000, 0x1001).Outcome, FlashOutcome::OutOfRange);
        EXPECT_EQ(FlashProgramPages(chip_, 0x1000000, data.data(), 1).Outcome, FlashOutcome::OutOfRange);
        EXPECT_EQ(FlashVerify(0xFFFFFF, data.data(), 2).Outcome, FlashOutcome::OutOfRange);
        EXPECT_EQ(FlashProgramAaiWord(chip_, 0x10001, data.data(), 2).Outcome, FlashOutcome::OutOfRange);
        EXPECT_EQ(FlashProgramAaiWord(chip_, 0x10000, data.data(), 3).Outcome, FlashOutcome::OutOfRange);
    });
    EXPECT_FALSE(rig_->Trace().TouchedPorts());
}

}  // namespace
}  // namespace zar::test
