// The decoded SPI log: hand-made traces of every EC command and transaction
// kind, the trace text reader on good and bad input, and a whole run decoded
// live against the same run's trace read back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Applications/Main/Main.h"
#include "Harness.h"
#include "sim/SpiLog.h"

namespace zar::test {
namespace {

struct Lines : sim::SpiLogSink {
    void Line(const char* text, size_t length) override { lines.emplace_back(text, length); }
    std::vector<std::string> lines;
};

struct Problems : sim::TraceProblemSink {
    void BadLine(uint64_t number, const char* text, size_t length) override
    {
        numbers.push_back(number);
        texts.emplace_back(text, length);
    }
    std::vector<uint64_t> numbers;
    std::vector<std::string> texts;
};

// Port traffic as the flasher makes it on an EC without latency.
class Traffic {
public:
    Traffic& Command(uint8_t v) { return Handshake(0x66, v); }
    Traffic& Data(uint8_t v) { return Handshake(0x62, v); }
    Traffic& Answer(uint8_t v)
    {
        a.push_back({false, 0x66, 0x01});
        a.push_back({false, 0x62, v});
        return *this;
    }
    Traffic& Start(uint8_t opcode) { return Command(0x01).Command(0x02).Command(opcode); }
    Traffic& Write(uint8_t v) { return Command(0x03).Command(v); }
    Traffic& Address(uint32_t address) { return Write(address >> 16 & 0xFF).Write(address >> 8 & 0xFF).Write(address & 0xFF); }
    Traffic& Read(uint8_t v) { return Command(0x04).Answer(v); }
    Traffic& Enter() { return Command(0xDC).Answer(0x33); }

    std::vector<std::string> Decode() const
    {
        Lines out;
        sim::SpiLogDecoder decoder(&out);
        for (const PortAccess& x : a)
            decoder.Access(x.Write, x.Port, x.Value);
        decoder.Finish();
        return out.lines;
    }

    std::vector<PortAccess> a;

private:
    Traffic& Handshake(uint8_t port, uint8_t v)
    {
        a.push_back({false, 0x66, 0x00});
        a.push_back({true, port, v});
        a.push_back({false, 0x66, 0x00});
        return *this;
    }
};

using Want = std::vector<std::string>;

TEST(SpiLogEc, CommandsOfNormalMode)
{
    Traffic t;
    t.Command(0x92).Data(0x08).Data(0x80).Answer(0x44);
    t.Command(0x92).Data(0x08).Data(0x9F).Answer(0x20);
    t.Command(0x80);
    t.Enter();
    t.Command(0xFE);
    EXPECT_EQ(t.Decode(), (Want{"READ_MEMORY 0880 -> 44", "READ_MEMORY 089F -> 20", "EC_CMD 80", "FOLLOW_ENTER -> 33",
                                "FOLLOW_EXIT"}));

    Traffic alt;
    alt.Enter().Command(0xFC);
    EXPECT_EQ(alt.Decode(), (Want{"FOLLOW_ENTER -> 33", "FOLLOW_EXIT_ALT"}));
}

TEST(SpiLogEc, CommandsThatNeverGotTheirBytesOrAnswer)
{
    Traffic t;
    t.Command(0x92).Data(0x08).Data(0x80);  // no answer read
    t.Command(0x92).Data(0x08);             // a byte short
    t.Command(0x92);
    t.Command(0xDC);  // the answer never came: the run ends here
    EXPECT_EQ(t.Decode(), (Want{"READ_MEMORY 0880 (no answer)", "READ_MEMORY 08 (incomplete)",
                                "READ_MEMORY (incomplete)", "FOLLOW_ENTER (no answer)"}));
}

TEST(SpiLogEc, AccessesWithNowhereToGoAreShownRaw)
{
    Traffic t;
    t.Data(0x12);       // no command wants a data byte
    t.Answer(0x55);     // nothing was asked
    t.Enter();
    t.Data(0x34);       // follow mode takes nothing on the data port
    t.Command(0x77);    // no such sub-command
    t.Command(0xFE);
    t.Command(0x01);    // closed: the EC takes nothing more
    t.a.push_back({true, 0x80, 0x01});
    EXPECT_EQ(t.Decode(), (Want{"? out 62 12", "? in 62 55", "FOLLOW_ENTER -> 33", "? out 62 34", "FOLLOW_CMD 77",
                                "FOLLOW_EXIT", "? out 66 01", "? out 80 01"}));
}

TEST(SpiLogTransactions, EveryKindTheFlasherSends)
{
    Traffic t;
    t.Enter();
    t.Start(0x9F).Read(0xBF).Read(0x25).Read(0x8E).Read(0xBF).Command(0x05);
    t.Start(0xAB).Address(0).Read(0xBF).Read(0x48).Read(0xBF).Read(0x48).Command(0x05).Command(0x05);
    t.Start(0x06);  // left open: the next START ends it
    t.Start(0x50);
    t.Start(0x01).Write(0x00);
    t.Start(0x05).Read(0x03).Read(0x01).Read(0x00).Command(0x05);
    t.Start(0x20).Address(0x020000).Command(0x05);
    t.Start(0xD8).Address(0x030000).Command(0x05);
    t.Start(0x02).Address(0x028100);
    for (int i = 0; i < 256; ++i)
        t.Write(static_cast<uint8_t>(i));
    t.Start(0x04);
    t.Start(0x0B).Address(0x020000).Write(0x00);
    for (int i = 0; i < 1000; ++i)
        t.Read(0xFF);
    t.Command(0x05);
    EXPECT_EQ(t.Decode(), (Want{"FOLLOW_ENTER -> 33", "RDID -> BF 25 8E BF", "RES 000000 -> BF 48 BF 48", "WREN",
                                "EWSR", "WRSR 00", "RDSR x3 -> 00", "SECTOR_ERASE 020000", "BLOCK_ERASE 030000",
                                "PAGE_PROGRAM 028100 +256", "WRDI", "FAST_READ 020000 +1000"}));
}

TEST(SpiLogTransactions, AaiCommandsAfterTheFirstCarryNoAddress)
{
    Traffic t;
    t.Enter();
    for (uint8_t opcode : {uint8_t{0xAD}, uint8_t{0xAF}}) {
        int perCommand = opcode == 0xAD ? 2 : 1;
        t.Start(opcode).Address(0x010000);
        for (int i = 0; i < perCommand; ++i)
            t.Write(0x5A);
        t.Start(0x05).Read(0x01).Read(0x00).Command(0x05);
        t.Start(opcode);
        for (int i = 0; i < perCommand; ++i)
            t.Write(0xA5);
        t.Start(0x05).Read(0x00).Command(0x05);
        t.Start(opcode);  // the last one stays empty; WRDI ends the sequence
        t.Start(0x04);
        t.Start(0x05).Read(0x00).Command(0x05);
    }
    EXPECT_EQ(t.Decode(), (Want{"FOLLOW_ENTER -> 33", "AAI_WORD_PROGRAM 010000 +2", "RDSR x2 -> 00",
                                "AAI_WORD_PROGRAM +2", "RDSR x1 -> 00", "AAI_WORD_PROGRAM +0", "WRDI",
                                "RDSR x1 -> 00", "AAI_BYTE_PROGRAM 010000 +1", "RDSR x2 -> 00", "AAI_BYTE_PROGRAM +1",
                                "RDSR x1 -> 00", "AAI_BYTE_PROGRAM +0", "WRDI", "RDSR x1 -> 00"}));
}

TEST(SpiLogTransactions, UnknownOpcodesAndOddShapesShowTheirBytes)
{
    Traffic t;
    t.Enter();
    t.Start(0x5A).Address(0x000010).Write(0xFF).Read(0x53).Read(0x46).Command(0x05);
    t.Start(0x03);
    for (int i = 0; i < 20; ++i)
        t.Write(static_cast<uint8_t>(i));
    t.Command(0x05);
    t.Start(0x20).Write(0x01).Command(0x05);          // an erase one address byte long
    t.Command(0x01).Read(0x11).Command(0x05);         // selected, nothing sent
    t.Command(0x01).Command(0x03).Command(0x9F).Read(0xEF).Command(0x05);  // the first byte is the opcode either way
    t.Start(0x05).Command(0x05);
    t.Command(0x05);  // an END with nothing open
    EXPECT_EQ(t.Decode(),
              (Want{"FOLLOW_ENTER -> 33", "5A 00 00 10 FF -> 53 46",
                    "03 00 01 02 03 04 05 06 07 08 09 0A ... (20 bytes)", "SECTOR_ERASE 01", "(no opcode) -> 11",
                    "RDID -> EF", "RDSR"}));
}

TEST(SpiLogTransactions, WhatIsLeftOpenWhenTheStreamEnds)
{
    Traffic t;
    t.Enter();
    t.Start(0x05).Read(0x01).Read(0x01).Command(0x04);  // the last poll never answered
    EXPECT_EQ(t.Decode(), (Want{"FOLLOW_ENTER -> 33", "RDSR x2 -> 01 (no answer) (open at end)"}));

    Traffic closed;
    closed.Enter().Start(0x0B).Address(0).Write(0).Read(0xFF).Command(0xFE);
    EXPECT_EQ(closed.Decode(), (Want{"FOLLOW_ENTER -> 33", "FAST_READ 000000 +1", "FOLLOW_EXIT"}));
}

TEST(SpiLogTransactions, ManyReadsKeepTheLineBounded)
{
    Traffic t;
    t.Enter().Start(0x9F);
    for (int i = 0; i < 300; ++i)
        t.Read(static_cast<uint8_t>(i));
    std::vector<std::string> lines = t.Decode();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "RDID -> 00 01 02 03 04 05 06 07 ... (300 bytes) (open at end)");
}

// ---- Trace text -------------------------------------------------------------

// The accesses read back, as trace lines again.
struct Collected : sim::TraceSink {
    void Access(bool write, uint8_t port, uint8_t value) override
    {
        char line[16];
        snprintf(line, sizeof line, "%s %02x %02x", write ? "out" : "in", port, value);
        got.push_back(line);
    }
    std::vector<std::string> got;
};

TEST(TraceText, GoodLinesInAnyChunkingGiveTheSameAccesses)
{
    const std::string text = "in 66 02\nout 62 08\nIN 66 0A\r\nout 66 fe";  // last line without newline
    const Want want = {"in 66 02", "out 62 08", "out 66 fe"};
    for (size_t chunk : {text.size(), size_t{1}, size_t{3}}) {
        SCOPED_TRACE(chunk);
        Collected sink;
        Problems problems;
        sim::TraceTextReader reader(&sink, &problems);
        for (size_t at = 0; at < text.size(); at += chunk)
            reader.Feed(text.data() + at, std::min(chunk, text.size() - at));
        reader.Finish();
        EXPECT_EQ(sink.got, want);
        EXPECT_EQ(problems.numbers, std::vector<uint64_t>{3});  // "IN" is not how a trace spells it
        EXPECT_EQ(reader.Lines(), 4u);
    }
}

TEST(TraceText, MalformedAndTruncatedLinesAreReportedAndSkipped)
{
    std::string text = "in 66 00\n"
                       "in 66\n"          // 2: truncated
                       "out 62 0g\n"      // 3: not hex
                       "\n"               // 4: empty
                       "out  62 08\n"     // 5: spacing
                       "in 66 00 extra\n" // 6: trailing text
                       + std::string(100000, 'x') + "\n"  // 7: far too long
                       + std::string("out 66 01\0\n", 11)  // 8: a NUL in it
                       + "out 66 92\n"
                       + "in 6";           // 10: cut off at the end
    Collected sink;
    Problems problems;
    sim::TraceTextReader reader(&sink, &problems);
    reader.Feed(text.data(), text.size());
    reader.Finish();
    EXPECT_EQ(sink.got, (Want{"in 66 00", "out 66 92"}));
    EXPECT_EQ(problems.numbers, (std::vector<uint64_t>{2, 3, 4, 5, 6, 7, 8, 10}));
    EXPECT_EQ(reader.BadLines(), 8u);
    EXPECT_EQ(problems.texts[5], std::string(sim::TRACE_LINE_MAX, 'x'));  // only the bounded start is kept
    EXPECT_EQ(problems.texts[7], "in 6");
}

// ---- A whole run -------------------------------------------------------------

TEST(SpiLogRun, LiveDecodingEqualsDecodingTheTraceAndShowsTheBlocksWork)
{
    std::vector<uint8_t> image = MakeImage(0x11000);
    std::string name = WriteTempFile("log.bin", image);
    Rig rig;
    Lines live;
    sim::SpiLogDecoder decoder(&live);
    sim::TraceTee tee(&rig.Trace(), &decoder);
    rig.Ec().SetTrace(&tee);
    ASSERT_EQ(rig.Run({name}), EXIT_OK) << rig.Output();
    decoder.Finish();

    Lines replayed;
    sim::SpiLogDecoder second(&replayed);
    sim::TraceTextReader reader(&second, nullptr);
    std::string text = rig.Trace().Lines();
    reader.Feed(text.data(), text.size());
    reader.Finish();
    second.Finish();
    EXPECT_EQ(reader.BadLines(), 0u);
    EXPECT_EQ(live.lines, replayed.lines);

    const std::vector<std::string>& log = live.lines;
    auto count = [&](const std::string& prefix) {
        return std::count_if(log.begin(), log.end(), [&](const std::string& l) { return l.starts_with(prefix); });
    };
    EXPECT_EQ(count("READ_MEMORY "), 32);
    EXPECT_EQ(log[0], "READ_MEMORY 0880 -> 54");  // 'T' of TESTMOD
    EXPECT_EQ(count("SECTOR_ERASE "), 17);  // 16 for block 0, one 4 KiB step for block 1
    EXPECT_EQ(count("PAGE_PROGRAM "), 256 + 16);
    EXPECT_NE(std::find(log.begin(), log.end(), "PAGE_PROGRAM 00FF00 +256"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "PAGE_PROGRAM 010F00 +256"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "FAST_READ 000000 +65536"), log.end());
    EXPECT_EQ(count("FAST_READ 010000 +4096"), 2);  // blank check and verify end at the image's end
    EXPECT_EQ(log.back(), "FOLLOW_EXIT");
    EXPECT_EQ(count("? "), 0);
}

}  // namespace
}  // namespace zar::test
