// The checks between identification and the first erase, on the classic
// road: no chip answering, and an image larger than the chip. Either way the
// chip is not written and the status says why. The EC is handed back by the
// run's closing command when the module check showed it running its
// firmware; skipped with p, nothing shows that, and the EC stays in follow
// mode with the command to type.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Applications/Main/Main.h"
#include "Harness.h"
#include "ec/EcChannel.h"

namespace zar::test {
namespace {

std::string Hex4(uint32_t value)
{
    char text[16];
    snprintf(text, sizeof text, "%04X", value);
    return text;
}

// A bus that something holds low: every byte reads 00, so RDID sends the
// flasher on to RES, which reads 00 too.
struct BusHeldLow : sim::SpiDevice {
    void Select() override {}
    void Deselect() override {}
    void Write(uint8_t) override {}
    uint8_t Read() override { return 0x00; }
};

TEST(NoChip, EndsQuicklyWithTheRunsClosingRuleAndWritesNothing)
{
    std::string name = WriteTempFile("nochip.bin", MakeImage(0x12345));
    struct Case {
        std::vector<std::string> args;
        sim::EcMode mode;
    } cases[] = {
        {{name}, sim::EcMode::ClosedExit},
        {{name, "x", "y", "/j"}, sim::EcMode::ClosedExitAlt},
        {{name, "p"}, sim::EcMode::Follow},
        {{name, "p", "x"}, sim::EcMode::Follow},
        {{name, "p", "x", "/j"}, sim::EcMode::Follow},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.size());
        Rig rig;
        rig.DetachChip();
        rig.DecodeSpi();
        EXPECT_EQ(rig.Run(c.args), EXIT_NO_ANSWER);
        EXPECT_NE(rig.Output().find("\r\nDevice ID        : FF FF FF FF \r\n\r\nNO FLASH CHIP!! Nothing answers on "
                                    "the EC's SPI bus. Nothing was erased or written.\r\n"),
                  std::string::npos)
            << rig.Output();
        EXPECT_EQ(rig.Output().find("NO ANSWER!!"), std::string::npos);
        EXPECT_EQ(rig.Ec().Mode(), c.mode);
        EXPECT_EQ(CountOf(rig.Output(), "No closing command sent"), c.mode == sim::EcMode::Follow ? 1u : 0u);
        bool check = c.args.size() == 1 || c.args[1] != "p";
        std::vector<std::string> advised = {name, "p"};
        advised.insert(advised.end(), c.args.begin() + std::min<size_t>(2, c.args.size()), c.args.end());
        EXPECT_EQ(AdvisedCommand(rig.Output()), c.mode == sim::EcMode::Follow ? advised : std::vector<std::string>{});
        std::vector<std::string> log = rig.SpiLog();
        EXPECT_TRUE(FlashWrites(log).empty());
        size_t first = check ? 32 : 0;  // after the module check's memory reads
        ASSERT_GE(log.size(), first + 3);
        EXPECT_EQ(log[first + 1], "RDSR x100000 -> FF");  // cut short, the flash-busy bound is far away
        EXPECT_EQ(log[first + 2], "RDID -> FF FF FF FF");
    }

    Rig low;
    BusHeldLow bus;
    low.Ec().AttachChip(&bus);
    low.StopTracing();
    EXPECT_EQ(low.Run({name, "p"}), EXIT_NO_ANSWER);
    EXPECT_NE(low.Output().find("Device ID        : 0 0 0 0 \r\n\r\nNO FLASH CHIP!!"), std::string::npos);
    EXPECT_EQ(low.Ec().Mode(), sim::EcMode::Follow);
}

TEST(NoChip, IsRecognisedWithinFiveSecondsOfHardwareTime)
{
    // zar-sim's real timing: 1 us an access, the EC 2 us to take or answer a byte.
    sim::EcConfig ec;
    ec.AccessNs = 1000;
    ec.IbfDelay = ec.ObfDelay = {sim::ReadDelay::Fixed, 2, 1};
    Rig rig(nullptr, ec);
    rig.DetachChip();
    rig.StopTracing();
    std::string name = WriteTempFile("nochip.bin", MakeImage(0x12345));
    EXPECT_EQ(rig.Run({name, "p"}), EXIT_NO_ANSWER);
    EXPECT_LT(rig.Ec().Clock().Now, 5'000'000'000ull);
    EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::Follow);
}

TEST(ImageTooLarge, RefusedBeforeTheFirstEraseWhenTheChipsSizeIsKnown)
{
    const sim::ChipInfo& part = sim::DefaultChip();  // W25X40, 512 KiB
    std::vector<uint8_t> image = MakeImage(part.Part->Size + 1);
    std::string name = WriteTempFile("large.bin", image);
    Rig rig;
    rig.DecodeSpi();
    std::vector<uint8_t> before = rig.Flash();
    EXPECT_EQ(rig.Run({name, "p"}), EXIT_BAD_IMAGE);
    EXPECT_NE(rig.Output().find("Device ID        : EF 30 13 0 \r\nSPI Vendor       : Winbond \r\n\r\nIMAGE TOO "
                                "LARGE!! The image has 524289 bytes, the W25X40 chip holds 524288. Nothing was "
                                "erased or written.\r\n"),
              std::string::npos)
        << rig.Output();
    EXPECT_EQ(rig.Flash(), before);
    EXPECT_TRUE(FlashWrites(rig.SpiLog()).empty());
    EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::Follow);
    EXPECT_EQ(AdvisedCommand(rig.Output()), (std::vector<std::string>{"IMAGE", "p"}));
    Rig checked;
    checked.StopTracing();
    EXPECT_EQ(checked.Run({name}), EXIT_BAD_IMAGE);
    EXPECT_EQ(checked.Ec().Mode(), sim::EcMode::ClosedExit);

    // A part the table does not know, sized by its RDID capacity byte, 2^17.
    FlashPart unknownPart = *part.Part;
    unknownPart.Rdid[2] = 0x11;
    unknownPart.Size = 0x20000;
    sim::ChipInfo unknown = part;
    unknown.Part = &unknownPart;
    std::string three = WriteTempFile("three.bin", MakeImage(0x20001));
    Rig small(&unknown);
    small.StopTracing();
    EXPECT_EQ(small.Run({three, "p", "x", "/j"}), EXIT_BAD_IMAGE);
    EXPECT_NE(small.Output().find("The image has 131073 bytes, the flash chip holds 131072."), std::string::npos);
    EXPECT_EQ(small.Chip().Stats().Erases, 0u);
    EXPECT_EQ(small.Ec().Mode(), sim::EcMode::Follow);
}

TEST(ImageTooLarge, AnImageThatFillsTheChipOrAChipOfUnknownSizeIsFlashed)
{
    const sim::ChipInfo& part = sim::DefaultChip();
    std::vector<uint8_t> image = MakeImage(part.Part->Size);
    std::string name = WriteTempFile("whole.bin", image);
    Rig rig;
    rig.StopTracing();
    ASSERT_EQ(rig.Run({name, "p"}), EXIT_OK) << rig.Output();
    EXPECT_EQ(rig.Flash(), image);

    // An ID the size rule can't read (capacity byte outside 0x10-0x18): the
    // size is unknown and the run goes on as before.
    FlashPart oddPart = *part.Part;
    oddPart.Rdid[2] = 0x7E;
    sim::ChipInfo odd = part;
    odd.Part = &oddPart;
    std::string small = WriteTempFile("small.bin", MakeImage(0x1000));
    Rig other(&odd);
    other.StopTracing();
    EXPECT_EQ(other.Run({small, "p"}), EXIT_OK);
}

// A maker outside the vendor table: neither the part table nor the capacity
// rule gives a size. Block 0 is read once more after the last block, and a
// wrap that overwrote it fails the run; a chip large enough passes.
TEST(ImageTooLarge, OnAChipOfUnknownSizeBlockZeroIsComparedOnceMore)
{
    const sim::ChipInfo& part = sim::DefaultChip();
    std::vector<uint8_t> image = MakeImage(0x18000);
    std::string name = WriteTempFile("wraps.bin", image);
    for (uint32_t size : {0x10000u, 0x80000u}) {
        SCOPED_TRACE(size);
        FlashPart unknownPart = *part.Part;
        unknownPart.Rdid[0] = 0x5A;
        unknownPart.Size = size;
        sim::ChipInfo unknown = part;
        unknown.Part = &unknownPart;
        Rig rig(&unknown);
        rig.StopTracing();
        int status = rig.Run({name, "p"});
        EXPECT_NE(rig.Output().find("Block 0 again    : "), std::string::npos) << rig.Output();
        if (size == 0x10000) {
            EXPECT_EQ(status, EXIT_FLASH_FAILED) << rig.Output();
            EXPECT_NE(rig.Output().find(" -- Verify Fail. \r\n\r\nBLOCK 0 OVERWRITTEN!!"), std::string::npos);
            EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::Follow);
            EXPECT_EQ(CountOf(rig.Output(), "No closing command sent"), 1u);
        } else {
            EXPECT_EQ(status, EXIT_OK) << rig.Output();
            EXPECT_TRUE(std::equal(image.begin(), image.end(), rig.Flash().begin()));
            EXPECT_EQ(rig.Ec().Mode(), sim::EcMode::ClosedExit);
            EXPECT_TRUE(rig.Output().ends_with("Current F/W Checksum : " +
                                               std::string(Hex4(ByteSum(image, image.size()))) + "\r\n"));
        }
    }
}

}  // namespace
}  // namespace zar::test
